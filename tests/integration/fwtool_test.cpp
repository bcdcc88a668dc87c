// orv-fwtool as the demo and the installer scripts run it: images and
// registry values under a private root.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tools/orvfwtool/sample_images.h"

namespace fs = std::filesystem;
namespace ot = orv::testing;

TEST(FwTool, InstallWritesImagesAndRegistryValuesKeepingOthers) {
    ot::TempDir root;
    const std::string conf = root.Path() + "/etc/orv-videowall/registry.conf";
    fs::create_directories(fs::path(conf).parent_path());
    std::ofstream(conf) << "[Software\\ORVVideoWallControlSet]\nCALG=REG_DWORD:228\n"
                           "[Software\\ORVVideoWallInfo]\nFirmwareVersion=REG_SZ:old\n";

    const auto result = ot::Run(
        {ORV_FWTOOL, "install", root.Path(), "--version", "v 00.00.1400.0002", "--layout", "3"},
        {});
    ASSERT_EQ(result.exitCode, 0) << result.output;

    const auto registry = orv::platform::Registry::Load(conf);
    const std::string folder = root.Path() + "/usr/share/orv-videowall/firmware/";
    std::string value;
    std::uint32_t calg = 0;
    EXPECT_EQ(registry.ReadString(orv::platform::kInfoKey, "ORVFirmwarePath", value), 0u);
    EXPECT_EQ(value, folder + "USBDisplay.bin");
    EXPECT_EQ(registry.ReadString(orv::platform::kInfoKey, "FirmwareVersion", value), 0u);
    EXPECT_EQ(value, "00.00.1400.0002");  // the registry form, without "v "
    EXPECT_EQ(registry.ReadString(orv::platform::kInfoKey, "LayoutVersion", value), 0u);
    EXPECT_EQ(value, "3");
    EXPECT_EQ(registry.ReadDword(orv::platform::kControlSetKey, "CALG", calg), 0u);
    EXPECT_EQ(calg, 228u);

    for (const auto& image : orv::fwtool::kSampleImages)
        EXPECT_EQ(fs::file_size(folder + std::string(image.file)), image.size) << image.file;
    const std::string main = ot::ReadFile(folder + "USBDisplay.bin");
    EXPECT_NE(main.find(std::string("ORV-FW-VERSION=v 00.00.1400.0002\0", 33)), std::string::npos);
    EXPECT_NE(main.find(std::string("ORV-LAYOUT=3\0", 13)), std::string::npos);
}
