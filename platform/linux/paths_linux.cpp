#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace orv::platform {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::uint16_t PortFromEnv(const char* name, std::uint16_t fallback) {
    const std::string v = Env(name);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size() || value == 0 || value > 65535)
        return fallback;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string RootDir() {
    std::string root = Env("ORV_ROOT");
    while (!root.empty() && root.back() == '/') root.pop_back();
    return root;
}

std::string RuntimeDir() {
    std::string dir = Env("ORV_RUNTIME_DIR");
    if (!dir.empty()) return dir;
    if (geteuid() != 0) {
        const std::string xdg = Env("XDG_RUNTIME_DIR");
        if (!xdg.empty()) return xdg + "/orv-videowall";
    }
    return "/run/orv-videowall";
}

std::string LogDir() {
    return RootDir() + "/var/log/orv-videowall";
}
std::string StateDir() {
    return RootDir() + "/var/lib/orv-videowall";
}
std::string ConfigFilePath() {
    return StateDir() + "/ORVVideoWallConfigFile.ini";
}
std::string RegistryFilePath() {
    return RootDir() + "/etc/orv-videowall/registry.conf";
}
std::string DumpDir() {
    return RootDir() + "/var/dump";
}
std::string DefaultFirmwareDir() {
    return RootDir() + "/usr/share/orv-videowall/firmware";
}
std::string SystemdUnitDir() {
    return RootDir() + "/etc/systemd/system";
}
std::string BusDir() {
    return RuntimeDir() + "/usb";
}

std::string SystemctlProgram() {
    std::string p = Env("ORV_SYSTEMCTL");
    return p.empty() ? "systemctl" : p;
}

std::string UdevRulePath() {
    return RootDir() + "/etc/udev/rules.d/70-orv-videowall.rules";
}

std::string UdevadmProgram() {
    std::string p = Env("ORV_UDEVADM");
    return p.empty() ? "udevadm" : p;
}

std::string IpcPrefix() {
    const std::string ns = Env("ORV_IPC_NAMESPACE");
    return ns.empty() ? "/orv." : "/orv-" + ns + ".";
}

std::string IpcObjectName(std::string_view windowsName) {
    std::string name = IpcPrefix();
    for (const char c : windowsName) name += (c == '\\' || c == '/') ? '.' : c;
    return name;
}

std::uint16_t ControlPort() {
    return PortFromEnv("ORV_CONTROL_PORT", 1030);
}
std::uint16_t DriverPort() {
    return PortFromEnv("ORV_DRIVER_PORT", 2000);
}
std::uint16_t DiscoveryPort() {
    return PortFromEnv("ORV_DISCOVERY_PORT", 3260);
}

std::string ProgramPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramDir() {
    const std::string p = ProgramPath();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

bool MakeDirs(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace orv::platform
