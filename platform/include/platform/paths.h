// Where the system keeps its files and endpoints on Linux.
//
// Every location can be moved by the environment so that tests and the demo
// run side by side without root:
//   ORV_ROOT           prefix of the /etc, /var and /usr paths (default empty)
//   ORV_RUNTIME_DIR    sockets (default /run/orv-videowall, or
//                      $XDG_RUNTIME_DIR/orv-videowall when not root)
//   ORV_IPC_NAMESPACE  X makes shared-memory and event names begin "/orv-X."
//   ORV_CONTROL_PORT, ORV_DRIVER_PORT, ORV_DISCOVERY_PORT  (1030, 2000, 3260)
//   ORV_SYSTEMCTL      program used in place of systemctl
//
// Reads the environment on every call (cheap, and tests change it). Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::platform {

std::string RootDir();             // ORV_ROOT without a trailing slash, or ""
std::string RuntimeDir();          // see above
std::string LogDir();              // ${ORV_ROOT}/var/log/orv-videowall
std::string StateDir();            // ${ORV_ROOT}/var/lib/orv-videowall
std::string ConfigFilePath();      // StateDir()/ORVVideoWallConfigFile.ini
std::string RegistryFilePath();    // ${ORV_ROOT}/etc/orv-videowall/registry.conf
std::string DumpDir();             // ${ORV_ROOT}/var/dump
std::string DefaultFirmwareDir();  // ${ORV_ROOT}/usr/share/orv-videowall/firmware
std::string SystemdUnitDir();      // ${ORV_ROOT}/etc/systemd/system
std::string BusDir();              // RuntimeDir()/usb: the simulated USB bus
std::string SystemctlProgram();    // ORV_SYSTEMCTL or "systemctl"
// ${ORV_ROOT}/etc/udev/rules.d/70-orv-videowall.rules: access to the adapters
std::string UdevRulePath();
std::string UdevadmProgram();  // ORV_UDEVADM or "udevadm"

// "/orv." or "/orv-X." : the prefix of every shared-memory object name.
std::string IpcPrefix();

// The shared-memory object name of a kernel-object name: IpcPrefix() followed
// by the name with every backslash and '/' turned into '.', so "Global\Name"
// becomes "/orv.Global.Name". Named events and shared memory both use it.
std::string IpcObjectName(std::string_view windowsName);

std::uint16_t ControlPort();
std::uint16_t DriverPort();
std::uint16_t DiscoveryPort();

// Full path of the running program and its folder.
std::string ProgramPath();
std::string ProgramDir();

// Creates `path` and its missing parents (mode 0755). False on failure.
bool MakeDirs(const std::string& path);

}  // namespace orv::platform
