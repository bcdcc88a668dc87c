#include "tools/orvfwtool/sample_images.h"

#include <stdlib.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace orv::fwtool {
namespace fs = std::filesystem;
namespace {

// FNV-1a, to seed each file's byte stream differently.
std::uint32_t Seed(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (char c : text) h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return h != 0 ? h : 1;
}

// The registry form of a version: without the adapter's leading "v ".
std::string_view RegistryVersion(std::string_view version) {
    return version.starts_with("v ") ? version.substr(2) : version;
}

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

const char kUsage[] =
    "usage: orv-fwtool COMMAND ...\n"
    "  make-images DIR [--version V] [--layout N]\n"
    "      write Bootloader0.bin, Bootloader1.bin, Firmware0.bin and USBDisplay.bin into DIR\n"
    "  install ROOT [--version V] [--layout N]\n"
    "      write the images into ROOT/usr/share/orv-videowall/firmware and set\n"
    "      ORVFirmwarePath, FirmwareVersion and LayoutVersion in\n"
    "      ROOT/etc/orv-videowall/registry.conf (other values are kept)\n"
    "  --help\n"
    "V is the firmware version without the adapter's leading \"v \" (default 00.00.1400.0001);\n"
    "N the serial-ROM layout version (default 1). The main image carries both, so a\n"
    "simulated adapter that runs it reports them.\n";

}  // namespace

std::vector<std::uint8_t> SampleImageBytes(std::string_view file, std::size_t size,
                                           std::string_view version, std::uint32_t layout) {
    std::string head = "ORV-IMAGE=" + std::string(file) + '\0';
    if (file == firmware::kMainFirmwareFile) {
        head += "ORV-FW-VERSION=v " + std::string(RegistryVersion(version)) + '\0';
        head += "ORV-LAYOUT=" + std::to_string(layout) + '\0';
    }
    std::vector<std::uint8_t> data(size);
    std::uint32_t x = Seed(file);
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] =
            i < head.size() ? static_cast<std::uint8_t>(head[i]) : static_cast<std::uint8_t>(x);
    }
    return data;
}

bool MakeImages(const std::string& dir, std::string_view version, std::uint32_t layout,
                std::string* error) {
    if (!platform::MakeDirs(dir)) return Fail(error, dir + ": cannot create the folder");
    for (const SampleImage& image : kSampleImages) {
        const std::vector<std::uint8_t> data =
            SampleImageBytes(image.file, image.size, version, layout);
        const fs::path path = fs::path(dir) / image.file;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        if (!out.flush()) return Fail(error, path.string() + ": cannot write");
    }
    return true;
}

bool Install(const std::string& firmwareDir, const std::string& registryFile,
             std::string_view version, std::uint32_t layout, std::string* error) {
    if (!MakeImages(firmwareDir, version, layout, error)) return false;
    std::error_code ec;
    const fs::path mainImage =
        fs::absolute(fs::path(firmwareDir) / firmware::kMainFirmwareFile, ec);
    if (ec) return Fail(error, firmwareDir + ": " + ec.message());
    platform::Profile registry(registryFile);
    const std::string key(platform::kInfoKey);
    const bool ok =
        registry.WriteString(key, firmware::kValueFirmwarePath, "REG_SZ:" + mainImage.string()) &&
        registry.WriteString(key, firmware::kValueFirmwareVersion,
                             "REG_SZ:" + std::string(RegistryVersion(version))) &&
        registry.WriteString(key, firmware::kValueLayoutVersion,
                             "REG_SZ:" + std::to_string(layout));
    return ok || Fail(error, registryFile + ": cannot write the registry values");
}

int RunTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        out << kUsage;
        return 0;
    }
    auto usageError = [&](const std::string& why) {
        err << "orv-fwtool: " << why << "\n" << kUsage;
        return 2;
    };
    if (args.size() < 2 || (args[0] != "make-images" && args[0] != "install"))
        return usageError("a command and its folder are required");

    std::string version(kDefaultVersion);
    std::uint32_t layout = kDefaultLayout;
    for (std::size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return usageError(std::string(args[i]) + " needs a value");
        const std::string_view value = args[i + 1];
        if (args[i] == "--version") {
            version = RegistryVersion(value);
            if (version.empty() || version.find_first_of("\r\n") != std::string::npos)
                return usageError("--version needs a one-line version text");
        } else if (args[i] == "--layout") {
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), layout);
            if (ec != std::errc() || end != value.data() + value.size())
                return usageError("--layout needs a decimal number");
        } else {
            return usageError("unknown option " + std::string(args[i]));
        }
    }

    std::string error;
    bool ok = false;
    if (args[0] == "make-images") {
        ok = MakeImages(std::string(args[1]), version, layout, &error);
    } else {
        std::error_code ec;
        const fs::path root = fs::absolute(fs::path(args[1]), ec);
        if (ec) return usageError(std::string(args[1]) + ": " + ec.message());
        ::setenv("ORV_ROOT", root.c_str(), 1);
        ok = Install(platform::DefaultFirmwareDir(), platform::RegistryFilePath(), version, layout,
                     &error);
    }
    if (!ok) {
        err << "orv-fwtool: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace orv::fwtool
