#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/paths.h"
#include "platform/service_host.h"

extern char** environ;
extern "C" {
extern const char orv_udev_rule[];
extern const char orv_udev_rule_end[];
}

namespace orv::platform {
namespace {

// "1min 30s", "90s", "500ms", "1h", "infinity" as systemd prints time spans,
// in milliseconds (0xFFFFFFFF for infinity, 0 when unreadable).
std::uint32_t ParseTimeSpanMs(const std::string& text) {
    if (text == "infinity") return 0xFFFFFFFFu;
    std::istringstream in(text);
    std::string token;
    double total = 0;
    while (in >> token) {
        std::size_t i = 0;
        while (i < token.size() &&
               (std::isdigit(static_cast<unsigned char>(token[i])) || token[i] == '.'))
            ++i;
        if (i == 0) return 0;
        const double value = std::stod(token.substr(0, i));
        const std::string unit = token.substr(i);
        if (unit == "ms")
            total += value;
        else if (unit == "s" || unit.empty())
            total += value * 1000;
        else if (unit == "min")
            total += value * 60000;
        else if (unit == "h")
            total += value * 3600000;
        else if (unit == "d")
            total += value * 86400000;
        else if (unit == "us")
            total += value / 1000;
        else
            return 0;
    }
    return total >= 0xFFFFFFFFu ? 0xFFFFFFFEu : static_cast<std::uint32_t>(total);
}

// `systemctl show` lines "Key=value" for the given properties.
std::string Property(const std::string& shown, const std::string& key) {
    std::istringstream in(shown);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

std::string UnitFilePath(const std::string& unit) {
    return SystemdUnitDir() + "/" + unit;
}

}  // namespace

std::string UnitName(const std::string& serviceName) {
    std::string unit;
    for (char c : serviceName)
        unit += (c == ' ') ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return unit + ".service";
}

// Runs `program` with `args`; its exit status (127 when it could not be
// started), its standard output in `output` when not null.
static int RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::string* output = nullptr) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return 127;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return 127;
    }
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunSystemctl(const std::vector<std::string>& args, std::string* output) {
    return RunProgram(SystemctlProgram(), args, output);
}

namespace {

// Writes `text` to `path` through a temporary file and a rename, so the file
// is never seen half written.
ErrorCode WriteFileAtomically(const std::string& path, std::string_view text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            unlink(tmp.c_str());
            return kErrorAccessDenied;
        }
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        const ErrorCode err = FromErrno(errno);
        unlink(tmp.c_str());
        return err;
    }
    return kErrorSuccess;
}

// udev reads its rules again and replays the add events of the USB devices,
// so that adapters plugged in before the change get (or lose) access now.
// Without udev (a container) nothing happens; the rule counts from the next
// boot.
void ReloadUdevRules() {
    RunProgram(UdevadmProgram(), {"control", "--reload"});
    RunProgram(UdevadmProgram(), {"trigger", "--action=add", "--subsystem-match=usb"});
}

ErrorCode InstallUdevRule() {
    const std::string path = UdevRulePath();
    if (!MakeDirs(path.substr(0, path.rfind('/')))) return kErrorAccessDenied;
    const ErrorCode err = WriteFileAtomically(
        path, std::string_view(orv_udev_rule,
                               static_cast<std::size_t>(orv_udev_rule_end - orv_udev_rule)));
    if (err == kErrorSuccess) ReloadUdevRules();
    return err;
}

void RemoveUdevRule() {
    if (unlink(UdevRulePath().c_str()) == 0) ReloadUdevRules();
}

}  // namespace

bool ScmClient::OpenManager() {
    if (RunSystemctl({"--version"}) != 0) return Fail(kErrorFailedServiceControllerConnect);
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::OpenService(const std::string& serviceName) {
    const std::string unit = UnitName(serviceName);
    std::string shown;
    if (RunSystemctl({"show", "--property=LoadState", unit}, &shown) != 0)
        return Fail(kErrorFailedServiceControllerConnect);
    if (Property(shown, "LoadState") != "loaded") return Fail(kErrorServiceDoesNotExist);
    unit_ = unit;
    serviceName_ = serviceName;
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::CreateService(const std::string& serviceName, const std::string& programPath) {
    const std::string unit = UnitName(serviceName);
    const std::string path = UnitFilePath(unit);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return Fail(kErrorServiceExists);
    if (!MakeDirs(SystemdUnitDir())) return Fail(kErrorAccessDenied);

    // Restart=on-failure brings the wall back after a crash; a clean stop
    // (exit 0 after SIGTERM) stays stopped.
    //
    // Hardening, as far as the service's work allows:
    // - Runtime/State/Logs/ConfigurationDirectory: systemd creates
    //   /run/orv-videowall, /var/lib/orv-videowall, /var/log/orv-videowall
    //   and /etc/orv-videowall before the start; the runtime folder goes away
    //   on stop but survives an automatic restart.
    // - ProtectSystem=full (/usr, /boot, /efi and /etc read-only), not
    //   "strict": the desktop helper is started from this process and keeps
    //   its mount namespace, and it must write in the user's home, /tmp
    //   (X11 sockets) and /run/user. For the same reason there is no
    //   ProtectHome, PrivateTmp or ProtectProc (the session's environment is
    //   read from /proc/<pid>/environ of its processes).
    // - No PrivateDevices or PrivateIPC: the service opens the USB devices and
    //   shares POSIX shared memory in /dev/shm with the display driver and
    //   the panel in user sessions. DevicePolicy=closed with
    //   DeviceAllow=char-usb_device rw keeps /dev to the USB device nodes
    //   (plus the pseudo devices systemd always allows).
    // - NoNewPrivileges: the service only drops privileges (setuid/setgid to
    //   the session's user), it never gains them through exec.
    // - CapabilityBoundingSet: CAP_SETUID, CAP_SETGID (run the helper as the
    //   user, with its groups), CAP_KILL (signal that helper),
    //   CAP_SYS_PTRACE (read another user's /proc/<pid>/environ),
    //   CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER and CAP_CHOWN
    //   (device nodes and the shared-memory objects of other users). No
    //   CAP_NET_BIND_SERVICE: ports 1030, 2000 and 3260 are above 1023.
    // - RestrictAddressFamilies: AF_INET/AF_INET6 (TCP 1030 and 2000, UDP
    //   3260), AF_UNIX (sd-bus to logind, sd_notify, the simulated bus) and
    //   AF_NETLINK (USB hot-plug events).
    // - The kernel-facing protections (tunables, modules, logs, control
    //   groups, clock, hostname), RestrictNamespaces, RestrictRealtime,
    //   RestrictSUIDSGID, LockPersonality and SystemCallArchitectures=native
    //   take nothing the service uses. MemoryDenyWriteExecute is left out: it
    //   is inherited by the desktop helper, which may run a JIT.
    std::ostringstream unitText;
    unitText << "[Unit]\n"
             << "Description=" << serviceName << "\n"
             << "After=network.target systemd-logind.service\n\n"
             << "[Service]\n"
             << "Type=notify\n"
             << "NotifyAccess=main\n"
             << "ExecStart=" << programPath << "\n"
             << "Restart=on-failure\n"
             << "RestartSec=2\n"
             << "TimeoutStopSec=60\n"
             << "RuntimeDirectory=orv-videowall\n"
             << "RuntimeDirectoryPreserve=restart\n"
             << "StateDirectory=orv-videowall\n"
             << "LogsDirectory=orv-videowall\n"
             << "ConfigurationDirectory=orv-videowall\n"
             << "ProtectSystem=full\n"
             << "DevicePolicy=closed\n"
             << "DeviceAllow=char-usb_device rw\n"
             << "NoNewPrivileges=yes\n"
             << "CapabilityBoundingSet=CAP_SETUID CAP_SETGID CAP_KILL CAP_SYS_PTRACE "
                "CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_FOWNER CAP_CHOWN\n"
             << "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
             << "ProtectKernelTunables=yes\n"
             << "ProtectKernelModules=yes\n"
             << "ProtectKernelLogs=yes\n"
             << "ProtectControlGroups=yes\n"
             << "ProtectClock=yes\n"
             << "ProtectHostname=yes\n"
             << "RestrictNamespaces=yes\n"
             << "RestrictRealtime=yes\n"
             << "RestrictSUIDSGID=yes\n"
             << "LockPersonality=yes\n"
             << "SystemCallArchitectures=native\n\n"
             << "[Install]\n"
             << "WantedBy=multi-user.target\n";
    if (const ErrorCode err = WriteFileAtomically(path, unitText.str()); err != kErrorSuccess)
        return Fail(err);
    if (const ErrorCode err = InstallUdevRule(); err != kErrorSuccess) {
        unlink(path.c_str());
        return Fail(err);
    }
    RunSystemctl({"daemon-reload"});
    if (RunSystemctl({"enable", unit}) != 0) {
        unlink(path.c_str());
        RemoveUdevRule();
        RunSystemctl({"daemon-reload"});
        return Fail(kErrorGenFailure);
    }
    unit_ = unit;
    serviceName_ = serviceName;
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::DeleteService() {
    if (unit_.empty()) return Fail(kErrorInvalidHandle);
    if (RunSystemctl({"disable", unit_}) != 0) return Fail(kErrorGenFailure);
    const std::string path = UnitFilePath(unit_);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(FromErrno(errno));
    RemoveUdevRule();
    RunSystemctl({"daemon-reload"});
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::QueryStatus(ServiceStatusProcess& status) {
    if (unit_.empty()) return Fail(kErrorInvalidHandle);
    std::string shown;
    if (RunSystemctl({"show", "--property=ActiveState", "--property=TimeoutStopUSec", unit_},
                     &shown) != 0)
        return Fail(kErrorFailedServiceControllerConnect);
    const std::string state = Property(shown, "ActiveState");
    if (state == "active" || state == "reloading")
        status.currentState = kServiceRunning;
    else if (state == "activating")
        status.currentState = kServiceStartPending;
    else if (state == "deactivating")
        status.currentState = kServiceStopPending;
    else
        status.currentState = kServiceStopped;
    // systemd reports no progress counter; the stop time-out is the hint.
    status.checkPoint = 0;
    status.waitHint = status.currentState == kServiceStopPending
                          ? ParseTimeSpanMs(Property(shown, "TimeoutStopUSec"))
                          : 0;
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::StartService() {
    ServiceStatusProcess status;
    if (!QueryStatus(status)) return false;
    if (status.currentState == kServiceRunning || status.currentState == kServiceStartPending)
        return Fail(kErrorServiceAlreadyRunning);
    if (RunSystemctl({"start", "--no-block", unit_}) != 0) return Fail(kErrorGenFailure);
    lastError_ = kErrorSuccess;
    return true;
}

bool ScmClient::StopService() {
    ServiceStatusProcess status;
    if (!QueryStatus(status)) return false;
    if (status.currentState == kServiceStopped) return Fail(kErrorServiceNotActive);
    if (RunSystemctl({"stop", "--no-block", unit_}) != 0) return Fail(kErrorGenFailure);
    lastError_ = kErrorSuccess;
    return true;
}

}  // namespace orv::platform
