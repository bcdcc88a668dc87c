#include "sim/adapter/sim_config.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/paths.h"
#include "protocol/adapter/packet_header.h"

namespace orv::sim {
namespace {

using Json = nlohmann::json;

bus::SettingDescriptor Setting(std::uint8_t alt, std::initializer_list<std::uint8_t> endpoints) {
    bus::SettingDescriptor s{alt, {}};
    for (std::uint8_t e : endpoints) s.endpoints.push_back({e, bus::kEndpointTypeBulk, 512});
    return s;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    if (base == 0) {
        if (text.starts_with("0x") || text.starts_with("0X")) return ParseNumber(text, out, 16);
        base = 10;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2 != 0) return std::nullopt;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::uint8_t v = 0;
        if (!ParseNumber(std::string_view(digits).substr(i, 2), v, 16)) return std::nullopt;
        out.push_back(v);
    }
    return out;
}

// A JSON value of the kind of T: true or false, a string, or a whole number
// inside the range of T. Anything else is an error that names `key`.
template <typename T>
T Value(const Json& v, const char* key) {
    auto fail = [&](const std::string& what) -> T {
        throw std::runtime_error(std::string(key) + " must be " + what);
    };
    if constexpr (std::is_same_v<T, bool>) {
        return v.is_boolean() ? v.get<bool>() : fail("true or false");
    } else if constexpr (std::is_same_v<T, std::string>) {
        return v.is_string() ? v.get<std::string>() : fail("a string");
    } else {
        static_assert(std::is_unsigned_v<T>);
        constexpr std::uint64_t kMax = std::numeric_limits<T>::max();
        if (!v.is_number_unsigned() || v.get<std::uint64_t>() > kMax)
            return fail("a whole number from 0 to " + std::to_string(kMax));
        return static_cast<T>(v.get<std::uint64_t>());
    }
}

// The elements of an array member, each an object when `objects`.
const Json& Elements(const Json& v, const char* key, bool objects = true) {
    if (!v.is_array() ||
        (objects && !std::all_of(v.begin(), v.end(), [](const Json& e) { return e.is_object(); })))
        throw std::runtime_error(std::string(key) +
                                 (objects ? " must be an array of objects" : " must be an array"));
    return v;
}

// Reads a JSON member of an expected kind into `out`; absent leaves `out`.
template <typename T>
void Member(const Json& object, const char* key, T& out) {
    if (object.contains(key)) out = Value<T>(object.at(key), key);
}

MonitorConfig MonitorFromJson(const Json& j) {
    MonitorConfig m;
    unsigned port = m.port;
    Member(j, "port", port);
    if (!IsPortBit(port)) throw std::runtime_error("monitor port must be 1, 2, 4, 8 or 16");
    m.port = static_cast<std::uint8_t>(port);
    Member(j, "plugged", m.plugged);
    Member(j, "edid_file", m.edidFile);
    Member(j, "name", m.name);
    Member(j, "serial", m.serial);
    Member(j, "width", m.width);
    Member(j, "height", m.height);
    Member(j, "refresh", m.refresh);
    Member(j, "edid_size", m.edidSize);
    return m;
}

AdapterConfig AdapterFromJson(const Json& j) {
    AdapterConfig a;
    Member(j, "name", a.name);
    Member(j, "identity", a.identity);
    Member(j, "firmware_version", a.firmwareVersion);
    Member(j, "layout_version", a.layoutVersion);
    Member(j, "rom_file", a.romFile);
    Member(j, "rom_size", a.romSize);
    Member(j, "ack_delay_ms", a.ackDelayMs);
    Member(j, "decode_frames", a.decodeFrames);
    Member(j, "keepalive_ms", a.keepAliveMs);
    if (j.contains("caps")) {
        auto caps = ParseHex(Value<std::string>(j.at("caps"), "caps"));
        if (!caps || caps->size() > adapter::kCapsBlockSize)
            throw std::runtime_error("caps must be at most 157 bytes of hex");
        a.caps = *caps;
    }
    if (j.contains("descriptor")) {
        const Json& d = j.at("descriptor");
        if (d.is_string()) {
            auto preset = DescriptorPreset(d.get<std::string>());
            if (!preset)
                throw std::runtime_error("unknown descriptor preset " + d.get<std::string>());
            a.descriptor = *preset;
        } else {
            for (const Json& s : Elements(d, "descriptor")) {
                bus::SettingDescriptor setting{Value<std::uint8_t>(s.at("setting"), "setting"), {}};
                for (const Json& e : Elements(s.at("endpoints"), "endpoints", false))
                    setting.endpoints.push_back(
                        {Value<std::uint8_t>(e, "endpoints"), bus::kEndpointTypeBulk, 512});
                a.descriptor.push_back(setting);
            }
        }
    }
    if (j.contains("monitors"))
        for (const Json& m : Elements(j.at("monitors"), "monitors"))
            a.monitors.push_back(MonitorFromJson(m));
    return a;
}

void AddMonitors(AdapterConfig& a, unsigned count) {
    for (unsigned i = 0; i < count && i < std::size(kPortOrder); ++i) {
        MonitorConfig m;
        m.port = kPortOrder[i];
        a.monitors.push_back(m);
    }
}

}  // namespace

bool IsPortBit(unsigned v) {
    return v == 0x01 || v == 0x02 || v == 0x04 || v == 0x08 || v == 0x10;
}

std::optional<std::vector<bus::SettingDescriptor>> DescriptorPreset(const std::string& name) {
    if (name == "standard") return bus::StandardAdapterDescriptor();
    if (name == "two-endpoints") return std::vector{Setting(0, {0x02, 0x82})};
    if (name == "second-setting")
        return std::vector{Setting(0, {0x02, 0x82}), Setting(1, {0x01, 0x02, 0x81, 0x82})};
    return std::nullopt;
}

std::optional<SimConfig> ParseConfigJson(const std::string& text, std::string* error) {
    try {
        const Json j = Json::parse(text);
        if (!j.is_object()) throw std::runtime_error("the document must be an object");
        SimConfig c;
        Member(j, "bus", c.busDir);
        Member(j, "control", c.controlPath);
        Member(j, "rom_dir", c.romDir);
        if (j.contains("adapters"))
            for (const Json& a : Elements(j.at("adapters"), "adapters"))
                c.adapters.push_back(AdapterFromJson(a));
        return c;
    } catch (const std::exception& e) {
        if (error) *error = std::string("configuration: ") + e.what();
        return std::nullopt;
    }
}

bool FinishConfig(SimConfig& c, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (c.busDir.empty()) c.busDir = platform::BusDir();
    if (c.romDir.empty()) c.romDir = platform::StateDir() + "/adapter-sim";
    std::set<std::string> names;
    for (std::size_t i = 0; i < c.adapters.size(); ++i) {
        AdapterConfig& a = c.adapters[i];
        if (a.name.empty()) a.name = "adapter" + std::to_string(i);
        if (a.name.find('/') != std::string::npos || a.name.starts_with("."))
            return fail("adapter name '" + a.name + "' cannot name a socket file");
        if (!names.insert(a.name).second) return fail("adapter name '" + a.name + "' used twice");
        if (a.identity.empty()) {
            char id[48];
            std::snprintf(id, sizeof id, "ORVSIM-ADAPTER-%09u",
                          static_cast<unsigned>(i % 1000000000));
            a.identity = id;
        }
        if (a.identity.size() > adapter::kIdentitySize ||
            !std::all_of(a.identity.begin(), a.identity.end(),
                         [](char ch) { return ch >= 0x20 && ch < 0x7F; }))
            return fail("identity of " + a.name + " must be at most 24 printable characters");
        if (a.romFile.empty()) a.romFile = c.romDir + "/" + a.name + ".srom";
        if (a.descriptor.empty()) a.descriptor = bus::StandardAdapterDescriptor();
        if (a.firmwareVersion.size() > 900)
            return fail("firmware version of " + a.name + " too long");
        // The host gives up on a link that stays quiet for about 9 s.
        if (a.keepAliveMs == 0 || a.keepAliveMs > 2000)
            return fail("keep-alive interval of " + a.name + " must be 1..2000 ms");
        if (a.ackDelayMs > 60000) return fail("acknowledgement delay of " + a.name + " above 60 s");
        std::set<std::uint8_t> ports;
        for (MonitorConfig& m : a.monitors) {
            if (!ports.insert(m.port).second) return fail("two monitors on one port of " + a.name);
            if (m.edidSize != 128 && m.edidSize != 256) return fail("EDID size must be 128 or 256");
            if (m.width == 0 || m.height == 0 || m.width > kMaxModeSide || m.height > kMaxModeSide)
                return fail("monitor mode out of range on " + a.name);
        }
    }
    return true;
}

std::string Usage() {
    return "Usage: orv-adapter-sim [options]\n"
           "       orv-adapter-sim --ask SOCKET COMMAND...   (ask a running simulator)\n"
           "Simulated USB display adapters on the simulated USB bus.\n"
           "\n"
           "  --bus DIR              bus folder (default: the runtime folder's usb/)\n"
           "  --adapters N           number of adapters (default 1; ignored with --config "
           "adapters)\n"
           "  --monitors M           monitors per adapter, 0..5 (default 2: ports 0x01, 0x04)\n"
           "  --config FILE          JSON configuration (see docs/adapter-sim.md)\n"
           "  --control SOCKET       control socket (one text command per line)\n"
           "  --edid-dir DIR         take monitor EDIDs from the *.hex files of DIR, in name "
           "order\n"
           "  --edid FILE            EDID hex file for the next monitor (repeatable)\n"
           "  --rom-dir DIR          where serial-ROM files are kept\n"
           "  --firmware-version S   firmware version string (default \"v 00.00.1400.0001\")\n"
           "  --layout-version N     serial-ROM layout version (default 1)\n"
           "  --ack-delay MS         delay before a frame is acknowledged (default 0)\n"
           "  --keepalive MS         keep-alive notification interval (default 1000)\n"
           "  --descriptor NAME      standard | two-endpoints | second-setting\n"
           "  --help                 this text\n";
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine out;
    auto fail = [&](const std::string& why) {
        out.config.reset();
        out.message = "orv-adapter-sim: " + why + "\n" + Usage();
        out.exitCode = 2;
        return out;
    };
    SimConfig c;
    unsigned adapters = 1, monitors = 2;
    std::string configFile, edidDir, descriptor;
    std::vector<std::string> edidFiles;
    AdapterConfig proto;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out.message = Usage();
            return out;
        }
        if (i + 1 >= argc) return fail("missing value after " + arg);
        const std::string value = argv[++i];
        bool ok = true;
        if (arg == "--bus")
            c.busDir = value;
        else if (arg == "--adapters")
            ok = ParseNumber(value, adapters) && adapters <= 64;
        else if (arg == "--monitors")
            ok = ParseNumber(value, monitors) && monitors <= 5;
        else if (arg == "--config")
            configFile = value;
        else if (arg == "--control")
            c.controlPath = value;
        else if (arg == "--edid-dir")
            edidDir = value;
        else if (arg == "--edid")
            edidFiles.push_back(value);
        else if (arg == "--rom-dir")
            c.romDir = value;
        else if (arg == "--firmware-version")
            proto.firmwareVersion = value;
        else if (arg == "--layout-version")
            ok = ParseNumber(value, proto.layoutVersion, 0);
        else if (arg == "--ack-delay")
            ok = ParseNumber(value, proto.ackDelayMs);
        else if (arg == "--keepalive")
            ok = ParseNumber(value, proto.keepAliveMs);
        else if (arg == "--descriptor") {
            auto preset = DescriptorPreset(value);
            ok = preset.has_value();
            if (ok) proto.descriptor = *preset;
        } else
            return fail("unknown option " + arg);
        if (!ok) return fail("bad value '" + value + "' for " + arg);
    }
    if (!configFile.empty()) {
        std::ifstream in(configFile);
        if (!in) return fail("cannot read " + configFile);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string error;
        auto fromFile = ParseConfigJson(ss.str(), &error);
        if (!fromFile) return fail(error);
        // Options given on the command line win over the file.
        if (c.busDir.empty()) c.busDir = fromFile->busDir;
        if (c.controlPath.empty()) c.controlPath = fromFile->controlPath;
        if (c.romDir.empty()) c.romDir = fromFile->romDir;
        c.adapters = std::move(fromFile->adapters);
    }
    if (c.adapters.empty()) {
        for (unsigned i = 0; i < adapters; ++i) {
            AdapterConfig a = proto;
            AddMonitors(a, monitors);
            c.adapters.push_back(a);
        }
    }
    if (!edidDir.empty()) {
        std::error_code ec;
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(edidDir, ec))
            if (entry.path().extension() == ".hex") found.push_back(entry.path().string());
        if (ec || found.empty()) return fail("no *.hex EDID files in " + edidDir);
        std::sort(found.begin(), found.end());
        edidFiles.insert(edidFiles.end(), found.begin(), found.end());
    }
    // Hand the EDID files out to the monitors that have none, in order; a
    // directory's files are used round-robin.
    std::size_t next = 0;
    for (AdapterConfig& a : c.adapters)
        for (MonitorConfig& m : a.monitors)
            if (m.edidFile.empty() && !edidFiles.empty()) {
                if (next >= edidFiles.size() && edidDir.empty()) break;
                m.edidFile = edidFiles[next++ % edidFiles.size()];
            }
    std::string error;
    if (!FinishConfig(c, &error)) return fail(error);
    out.config = std::move(c);
    return out;
}

}  // namespace orv::sim
