// Starting a program in the interactive user's session (the desktop refresh
// helper after a wall change).
//
// The session is the active session of seat0 (logind), its user and the
// environment a graphical program needs: DISPLAY / WAYLAND_DISPLAY,
// XAUTHORITY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS (taken from the
// session's processes, with the usual defaults), plus HOME, USER, LOGNAME,
// SHELL and PATH. The program runs as that user (its groups, uid and gid,
// in its home folder), with default signal handling and nothing inherited
// but stdin/stdout/stderr. No active session: nothing is started.
//
// The session lookup is a seam (SessionSource) so tests and machines without
// a seat can supply their own.
//
// Threads: Launch from any thread (one internal lock around the list of
// children, never held while starting a program). Launch blocks until the
// program has been executed (or failed to be). Children that have ended are
// reaped at the next Launch and when the launcher is destroyed; WaitForExit
// waits for one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/thread_annotations.h"

namespace orv::platform {

struct ConsoleSession {
    std::string id;  // logind session id
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string user;
    std::string home;
    std::vector<std::string> environment;  // "NAME=value", the program's whole environment
};

class SessionSource {
public:
    virtual ~SessionSource() = default;
    // The active console session, or nothing when there is none.
    virtual std::optional<ConsoleSession> ActiveSession() = 0;
};

// The active session of seat0 from logind.
std::unique_ptr<SessionSource> MakeSeatSessionSource();

class SessionLauncher {
public:
    enum class Result { kStarted, kNoSession, kFailed };

    explicit SessionLauncher(std::unique_ptr<SessionSource> source = MakeSeatSessionSource());
    ~SessionLauncher();
    SessionLauncher(const SessionLauncher&) = delete;
    SessionLauncher& operator=(const SessionLauncher&) = delete;

    // Starts `program` (a path; not searched in PATH) with `args` in the
    // active session. `pid` (optional) receives the process id. kFailed
    // (logged) when the program could not be executed as the user.
    [[nodiscard]] Result Launch(const std::string& program,
                                const std::vector<std::string>& args = {}, int* pid = nullptr);

    // Waits up to `timeoutMs` (kInfinite: no limit) for a launched program
    // to end: its exit status
    // (0-255), 128 + signal when killed, or -1 on time-out or an unknown pid.
    int WaitForExit(int pid, std::uint32_t timeoutMs);

private:
    void ReapEnded() EXCLUDES(childrenMutex_);

    const std::unique_ptr<SessionSource> source_;
    Mutex childrenMutex_;
    std::vector<int> children_ GUARDED_BY(childrenMutex_);
};

}  // namespace orv::platform
