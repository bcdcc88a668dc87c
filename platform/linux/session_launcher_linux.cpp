#include "platform/session_launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/diag.h"
#include "platform/event.h"

namespace orv::platform {
namespace {

// Variables a graphical program needs, taken from the session's processes.
constexpr const char* kSessionVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
                                             "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"};

using Env = std::map<std::string, std::string>;

// The session variables in /proc/<pid>/environ.
Env SessionVariablesOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    Env found;
    std::string entry;
    while (std::getline(in, entry, '\0')) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = entry.substr(0, eq);
        for (const char* wanted : kSessionVariables)
            if (name == wanted) found[name] = entry.substr(eq + 1);
    }
    return found;
}

bool HasDisplay(const Env& env) {
    return env.contains("DISPLAY") || env.contains("WAYLAND_DISPLAY");
}

// The variables of the session's first process (of its user) that has a
// display; the login process that leads a session often has none.
Env FindSessionVariables(const char* session, std::uint32_t uid) {
    Env env;
    DIR* proc = opendir("/proc");
    if (!proc) return env;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        struct stat st {};
        if (stat(("/proc/" + std::string(entry->d_name)).c_str(), &st) != 0 || st.st_uid != uid)
            continue;
        char* owner = nullptr;
        const bool same = sd_pid_get_session(static_cast<pid_t>(pid), &owner) >= 0 &&
                          std::strcmp(owner, session) == 0;
        std::free(owner);
        if (!same) continue;
        env = SessionVariablesOf(static_cast<int>(pid));
        if (HasDisplay(env)) break;
    }
    closedir(proc);
    return env;
}

class SeatSessionSource final : public SessionSource {
public:
    std::optional<ConsoleSession> ActiveSession() override {
        char* session = nullptr;
        uid_t uid = 0;
        if (sd_seat_get_active("seat0", &session, &uid) < 0 || !session) return std::nullopt;
        ConsoleSession result;
        result.id = session;
        result.uid = uid;
        Env env = FindSessionVariables(session, uid);
        char* display = nullptr;
        if (!HasDisplay(env) && sd_session_get_display(session, &display) >= 0 && display)
            env["DISPLAY"] = display;
        std::free(display);
        std::free(session);

        const std::string runtime = "/run/user/" + std::to_string(uid);
        env.try_emplace("XDG_RUNTIME_DIR", runtime);
        struct stat st {};
        if (stat((runtime + "/bus").c_str(), &st) == 0)
            env.try_emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus");

        struct passwd pw {};
        struct passwd* found = nullptr;
        char buf[4096];
        if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) != 0 || !found) {
            Diagnostic("console session %s: no account for uid %u\n", result.id.c_str(), uid);
            return std::nullopt;
        }
        result.gid = pw.pw_gid;
        result.user = pw.pw_name;
        result.home = pw.pw_dir;
        env["HOME"] = result.home;
        env["USER"] = env["LOGNAME"] = result.user;
        env["SHELL"] = pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh";
        env["PATH"] = "/usr/local/bin:/usr/bin:/bin";
        for (const auto& [name, value] : env) result.environment.push_back(name + "=" + value);
        return result;
    }
};

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Exit status as WaitForExit reports it.
int StatusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

struct ChildPlan {
    std::vector<char*> argv;
    std::vector<char*> envp;
    bool switchUser = false;
    std::vector<gid_t> groups;
    uid_t uid = 0;
    gid_t gid = 0;
    const char* home = "/";
};

// Runs in the forked child: no descriptor but 0-2 survives the exec, default
// signal mask and SIGPIPE, the user's groups, gid and uid (in that order, so
// privileges are dropped last), home folder, exec. On failure the errno goes
// to `reportFd`.
[[noreturn]] void ExecAsUser(const ChildPlan& plan, int reportFd) {
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    const bool becameUser =
        !plan.switchUser || (setgroups(plan.groups.size(), plan.groups.data()) == 0 &&
                             setgid(plan.gid) == 0 && setuid(plan.uid) == 0);
    if (becameUser) {
        if (chdir(plan.home) != 0) (void)!chdir("/");
        execve(plan.argv[0], plan.argv.data(), plan.envp.data());
    }
    const int err = errno;
    (void)!write(reportFd, &err, sizeof err);
    _exit(127);
}

}  // namespace

std::unique_ptr<SessionSource> MakeSeatSessionSource() {
    return std::make_unique<SeatSessionSource>();
}

SessionLauncher::SessionLauncher(std::unique_ptr<SessionSource> source)
    : source_(std::move(source)) {}

SessionLauncher::~SessionLauncher() {
    ReapEnded();
}

SessionLauncher::Result SessionLauncher::Launch(const std::string& program,
                                                const std::vector<std::string>& args, int* pid) {
    ReapEnded();
    const std::optional<ConsoleSession> session = source_->ActiveSession();
    if (!session) return Result::kNoSession;

    // Everything the child needs is prepared here: between fork and exec
    // only async-signal-safe calls are allowed.
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = session->environment;
    ChildPlan plan;
    plan.argv = CStrings(argStrings);
    plan.envp = CStrings(envStrings);
    plan.switchUser = session->uid != geteuid();
    plan.uid = session->uid;
    plan.gid = session->gid;
    plan.home = session->home.empty() ? "/" : session->home.c_str();
    if (plan.switchUser) {
        int count = 64;
        plan.groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(session->user.c_str(), session->gid, plan.groups.data(), &count) < 0) {
            plan.groups.resize(static_cast<std::size_t>(count));
            getgrouplist(session->user.c_str(), session->gid, plan.groups.data(), &count);
        }
        plan.groups.resize(static_cast<std::size_t>(count));
    }

    // The child reports a failure to become the user or to execute through
    // this pipe; a successful exec closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Result::kFailed;
    const pid_t child = fork();
    if (child == 0) ExecAsUser(plan, report[1]);
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        Diagnostic("cannot start %s: %s\n", program.c_str(), strerror(errno));
        return Result::kFailed;
    }
    close(report[1]);
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == sizeof err) {
        waitpid(child, nullptr, 0);
        Diagnostic("cannot start %s as %s: %s\n", program.c_str(), session->user.c_str(),
                   strerror(err));
        return Result::kFailed;
    }
    {
        MutexLock lock(childrenMutex_);
        children_.push_back(child);
    }
    if (pid) *pid = child;
    return Result::kStarted;
}

void SessionLauncher::ReapEnded() {
    MutexLock lock(childrenMutex_);
    std::erase_if(children_, [](int child) { return waitpid(child, nullptr, WNOHANG) != 0; });
}

int SessionLauncher::WaitForExit(int pid, std::uint32_t timeoutMs) {
    {
        MutexLock lock(childrenMutex_);
        if (std::find(children_.begin(), children_.end(), pid) == children_.end()) return -1;
    }
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0) return -1;
    pollfd ready{pidFd, POLLIN, 0};
    int rc;
    const int waitMs = timeoutMs == kInfinite
                           ? -1
                           : static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT32_MAX));
    while ((rc = poll(&ready, 1, waitMs)) < 0 && errno == EINTR) {
    }
    close(pidFd);
    int status = 0;
    if (rc <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    MutexLock lock(childrenMutex_);
    std::erase(children_, pid);
    return StatusOf(status);
}

}  // namespace orv::platform
