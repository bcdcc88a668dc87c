#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/diag.h"
#include "platform/paths.h"
#include "tests/support/test_util.h"

namespace orv::platform {
namespace {

constexpr const char* kFile = R"(; written by the installer
[HKEY_LOCAL_MACHINE\SOFTWARE\ORVVideoWallInfo\]
ORVFirmwarePath=REG_SZ:/opt/fw/Firmware0.bin
firmwareversion=REG_EXPAND_SZ:V1.0.7
LayoutVersion=REG_SZ:
Count=REG_DWORD:0x1F

[Software\Wow6432Node\ORVVideoWallControlSet]
CALG=REG_DWORD:228
)";

TEST(Registry, ReadsTypedValuesWithCaseInsensitiveNames) {
    const Registry reg = Registry::Parse(kFile);
    EXPECT_TRUE(reg.Problems().empty());
    std::string text;
    RegType type = RegType::kDword;
    EXPECT_EQ(reg.ReadString(kInfoKey, "orvfirmwarepath", text, 0, &type), kErrorSuccess);
    EXPECT_EQ(text, "/opt/fw/Firmware0.bin");
    EXPECT_EQ(type, RegType::kSz);
    EXPECT_EQ(reg.ReadString("software\\orvvideowallinfo", "FirmwareVersion", text, 0, &type),
              kErrorSuccess);
    EXPECT_EQ(text, "V1.0.7");
    EXPECT_EQ(type, RegType::kExpandSz);
    EXPECT_EQ(reg.ReadString(kInfoKey, "LayoutVersion", text), kErrorSuccess);
    EXPECT_EQ(text, "");  // 0 bytes read as the empty string
    std::uint32_t value = 0;
    EXPECT_EQ(reg.ReadDword(kInfoKey, "COUNT", value), kErrorSuccess);
    EXPECT_EQ(value, 31u);
}

TEST(Registry, WrongTypesAndMissingValuesAreRefused) {
    const Registry reg = Registry::Parse(kFile);
    std::string text = "untouched";
    std::uint32_t value = 7;
    EXPECT_EQ(reg.ReadString(kInfoKey, "Count", text), kErrorInvalidData);
    EXPECT_EQ(reg.ReadDword(kInfoKey, "ORVFirmwarePath", value), kErrorInvalidData);
    EXPECT_EQ(reg.ReadString(kInfoKey, "Nothing", text), kErrorFileNotFound);
    EXPECT_EQ(reg.ReadDword(kControlSetKey, "CALG", value), kErrorFileNotFound);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(value, 7u);
}

TEST(Registry, FallbackKeyIsUsedOnlyWhenTheFirstKeyIsAbsent) {
    const Registry reg = Registry::Parse(std::string(kFile) +
                                         "[Software\\Wow6432Node\\ORVVideoWallInfo]\n"
                                         "ORVFirmwarePath=REG_SZ:/wow/Firmware0.bin\n"
                                         "OnlyHere=REG_SZ:x\n");
    std::uint32_t calg = 0;
    EXPECT_EQ(reg.ReadDword({kControlSetKey, kControlSetKeyWow}, "CALG", calg), kErrorSuccess);
    EXPECT_EQ(calg, 228u);
    std::string text;
    EXPECT_EQ(reg.ReadString({kInfoKey, kInfoKeyWow}, "ORVFirmwarePath", text), kErrorSuccess);
    EXPECT_EQ(text, "/opt/fw/Firmware0.bin");
    // The first key exists, so its missing value is not looked up elsewhere.
    EXPECT_EQ(reg.ReadString({kInfoKey, kInfoKeyWow}, "OnlyHere", text), kErrorFileNotFound);
    EXPECT_EQ(Registry::Parse("").ReadDword({kControlSetKey, kControlSetKeyWow}, "CALG", calg),
              kErrorFileNotFound);
}

TEST(Registry, StringLongerThanTheCallersBufferIsRefused) {
    const std::string fits(kRegVersionMaxBytes - 1, 'v');
    const Registry reg =
        Registry::Parse("[Software\\ORVVideoWallInfo]\nFirmwareVersion=REG_SZ:" + fits +
                        "\nLayoutVersion=REG_SZ:" + fits + "w\n");
    std::string text;
    EXPECT_EQ(reg.ReadString(kInfoKey, "FirmwareVersion", text, kRegVersionMaxBytes),
              kErrorSuccess);
    EXPECT_EQ(text, fits);
    EXPECT_EQ(reg.ReadString(kInfoKey, "LayoutVersion", text, kRegVersionMaxBytes), kErrorMoreData);
    EXPECT_EQ(text, fits);
}

TEST(Registry, MalformedLinesAreSkippedWithTheirReason) {
    const Registry reg = Registry::Parse(
        "Orphan=REG_SZ:x\n"               // 1 before any key
        "[Software\\ORVVideoWallInfo]\n"  // 2
        "NoEquals\n"                      // 3
        "A=REG_BINARY:00\n"               // 4
        "B=REG_DWORD:4294967296\n"        // 5 does not fit 32 bits
        "C=REG_DWORD:12abc\n"             // 6
        "D=REG_SZ\n"                      // 7 no ':'
        "=REG_SZ:x\n"                     // 8
        "Good=REG_DWORD:4294967295\n"     // 9
        "good=REG_DWORD:1\n"              // 10 duplicate
        "[Software\\Broken\n"             // 11
        "E=REG_SZ:lost\n",                // 12 belongs to the broken key
        "reg");
    const std::vector<std::string> expected_prefixes = {
        "reg:1: ", "reg:3: ", "reg:4: ",  "reg:5: ",  "reg:6: ",
        "reg:7: ", "reg:8: ", "reg:10: ", "reg:11: ", "reg:12: "};
    ASSERT_EQ(reg.Problems().size(), expected_prefixes.size());
    for (std::size_t i = 0; i < expected_prefixes.size(); ++i)
        EXPECT_TRUE(reg.Problems()[i].starts_with(expected_prefixes[i])) << reg.Problems()[i];
    std::uint32_t value = 0;
    EXPECT_EQ(reg.ReadDword(kInfoKey, "Good", value), kErrorSuccess);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_EQ(reg.ReadDword(kInfoKey, "B", value), kErrorFileNotFound);
}

std::vector<std::string> g_diagnostics;
void Capture(const char* line) {
    g_diagnostics.emplace_back(line);
}

TEST(Registry, LoadReadsTheRegistryFileAndReportsProblems) {
    test::TempDir root;
    setenv("ORV_ROOT", root.Path().c_str(), 1);
    std::uint32_t calg = 0;
    EXPECT_EQ(Registry::Load().ReadDword(kControlSetKey, "CALG", calg), kErrorFileNotFound);

    ASSERT_TRUE(MakeDirs(root.Path() + "/etc/orv-videowall"));
    test::WriteFile(RegistryFilePath(),
                    "[Software\\ORVVideoWallControlSet]\r\nCALG=REG_DWORD:224\r\nbad line\r\n");
    g_diagnostics.clear();
    SetDiagnosticSink(&Capture);
    const Registry reg = Registry::Load();
    SetDiagnosticSink(nullptr);
    unsetenv("ORV_ROOT");
    EXPECT_EQ(reg.ReadDword(kControlSetKey, "CALG", calg), kErrorSuccess);
    EXPECT_EQ(calg, 224u);
    ASSERT_EQ(g_diagnostics.size(), 1u);
    EXPECT_NE(g_diagnostics[0].find(":3: no '=' in value line, line skipped\n"), std::string::npos)
        << g_diagnostics[0];
}

}  // namespace
}  // namespace orv::platform
