#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/diag.h"
#include "platform/event_log.h"
#include "platform/power_request.h"
#include "platform/process.h"
#include "platform/session_launcher.h"
#include "tests/support/test_util.h"

namespace orv::platform {
namespace {

using test::ForkChild;
using test::WaitChild;

// The session lookup of a test: a fixed session, or none.
class FixedSession final : public SessionSource {
public:
    explicit FixedSession(std::optional<ConsoleSession> session) : session_(std::move(session)) {}
    std::optional<ConsoleSession> ActiveSession() override { return session_; }

private:
    std::optional<ConsoleSession> session_;
};

ConsoleSession SessionOf(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    ConsoleSession session;
    session.id = "c7";
    session.uid = uid;
    session.gid = pw ? pw->pw_gid : 0;
    session.user = pw ? pw->pw_name : "";
    session.home = "/";
    session.environment = {"DISPLAY=:42", "XDG_RUNTIME_DIR=/run/user/4242",
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/4242/bus",
                           "PATH=/bin:/usr/bin"};
    return session;
}

TEST(SessionLauncher, StartsTheProgramWithTheSessionEnvironment) {
    test::TempDir dir;
    const std::string out = dir.File("env.txt");
    setenv("ORV_NOT_FOR_THE_SESSION", "1", 1);
    const int leaked = dup(STDIN_FILENO);  // inheritable, unlike the launcher's own
    SessionLauncher launcher(std::make_unique<FixedSession>(SessionOf(geteuid())));
    int pid = 0;
    const std::string script = "env > " + out + "; [ -e /proc/$$/fd/" + std::to_string(leaked) +
                               " ] && echo LEAKED >> " + out + "; exit 3";
    ASSERT_EQ(launcher.Launch("/bin/sh", {"-c", script}, &pid), SessionLauncher::Result::kStarted);
    close(leaked);
    EXPECT_GT(pid, 0);
    EXPECT_EQ(launcher.WaitForExit(pid, 30000), 3);
    const std::string env = test::ReadFile(out);
    EXPECT_NE(env.find("DISPLAY=:42\n"), std::string::npos) << env;
    EXPECT_NE(env.find("XDG_RUNTIME_DIR=/run/user/4242\n"), std::string::npos);
    EXPECT_NE(env.find("DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/4242/bus\n"),
              std::string::npos);
    EXPECT_EQ(env.find("ORV_NOT_FOR_THE_SESSION"), std::string::npos);
    EXPECT_EQ(env.find("LEAKED"), std::string::npos);
    unsetenv("ORV_NOT_FOR_THE_SESSION");
}

TEST(SessionLauncher, RunsTheProgramAsTheSessionUser) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and the user nobody";
    test::TempDir dir;
    chmod(dir.Path().c_str(), 0777);
    const std::string out = dir.File("id.txt");
    SessionLauncher launcher(std::make_unique<FixedSession>(SessionOf(nobody->pw_uid)));
    int pid = 0;
    ASSERT_EQ(launcher.Launch("/bin/sh", {"-c", "echo $(id -u) $(id -g) $(id -G) > " + out}, &pid),
              SessionLauncher::Result::kStarted);
    EXPECT_EQ(launcher.WaitForExit(pid, 30000), 0);
    const std::string ids = std::to_string(nobody->pw_uid) + " " + std::to_string(nobody->pw_gid);
    EXPECT_TRUE(test::ReadFile(out).starts_with(ids + " ")) << test::ReadFile(out);
    EXPECT_EQ(test::ReadFile(out).find(" 0\n"), std::string::npos) << "root's group kept";
}

void Discard(const char*) {}

TEST(SessionLauncher, NothingIsStartedWithoutASessionAndFailuresAreReported) {
    SessionLauncher none(std::make_unique<FixedSession>(std::nullopt));
    int pid = -5;
    EXPECT_EQ(none.Launch("/bin/true", {}, &pid), SessionLauncher::Result::kNoSession);
    EXPECT_EQ(pid, -5);

    SetDiagnosticSink(&Discard);
    SessionLauncher launcher(std::make_unique<FixedSession>(SessionOf(geteuid())));
    EXPECT_EQ(launcher.Launch("/no/such/program", {}, &pid), SessionLauncher::Result::kFailed);
    SetDiagnosticSink(nullptr);
    EXPECT_EQ(pid, -5);
    EXPECT_EQ(launcher.WaitForExit(getpid(), 0), -1);  // not one of its programs
}

TEST(Process, ProcessesAreFoundByName) {
    const std::vector<int> pids = FindProcesses("platform_test");
    EXPECT_NE(std::find(pids.begin(), pids.end(), getpid()), pids.end());
    EXPECT_FALSE(IsProcessRunning("orv-no-such-process"));
}

TEST(Process, SingleInstanceLockIsHeldForTheObjectsLife) {
    test::TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    auto first = SingleInstanceLock::Acquire("ORVVWCPL");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Path(), dir.File("ORVVWCPL.lock"));
    EXPECT_FALSE(SingleInstanceLock::Acquire("ORVVWCPL"));
    const pid_t child = ForkChild([] { return SingleInstanceLock::Acquire("ORVVWCPL") ? 1 : 0; });
    EXPECT_EQ(WaitChild(child), 0);
    first.reset();
    EXPECT_TRUE(SingleInstanceLock::Acquire("ORVVWCPL"));
    unsetenv("XDG_RUNTIME_DIR");
}

std::vector<std::string> g_lines;
void Capture(const char* line) {
    g_lines.emplace_back(line);
}

TEST(PowerRequest, WithoutASystemBusItIsALoggedNoOp) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/orv-test-bus", 1);
    SetDiagnosticSink(&Capture);
    PowerRequest request;
    EXPECT_EQ(request.Acquire(), PowerRequest::State::kUnavailable);
    SetDiagnosticSink(nullptr);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_TRUE(g_lines[0].starts_with("keep-awake request not taken")) << g_lines[0];
    request.Release();
    EXPECT_EQ(request.Current(), PowerRequest::State::kReleased);
}

// What the event log handed to syslog: one entry per call, formatted here
// only after its format was recorded.
struct SyslogCall {
    int priority;
    std::string format;
    std::string message;
};
std::vector<SyslogCall> g_syslogCalls;

void CaptureSyslog(int priority, const char* format, ...) {
    SyslogCall call{priority, format, {}};
    // Format only the format the event log is meant to pass: formatting a
    // wrong one could read arguments that are not there.
    if (call.format == "%s: %s") {
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        call.message = text;
    }
    g_syslogCalls.push_back(std::move(call));
}

TEST(EventLog, TextIsWrittenAsTextNeverAsAFormat) {
    // A caller's text may hold '%': passed as syslog's format it would read
    // arguments that are not there (and %n would write through one).
    g_syslogCalls.clear();
    const EventLog::SyslogFunction previous = EventLog::ReplaceSyslogForTest(&CaptureSyslog);
    EventLog::Write("platform_test", "100% done %s %n %d", kEventLogErrorType);
    EventLog::Write("platform_test", "warning", kEventLogWarningType);
    EventLog::Write("platform_test", "information", kEventLogInformationType);
    EventLog::Write("platform_test", "other type", 0x10);
    EventLog::ReplaceSyslogForTest(previous);

    ASSERT_EQ(g_syslogCalls.size(), 4u);
    for (const SyslogCall& call : g_syslogCalls) EXPECT_EQ(call.format, "%s: %s");
    EXPECT_EQ(g_syslogCalls[0].message, "platform_test: 100% done %s %n %d");
    EXPECT_EQ(g_syslogCalls[0].priority, LOG_DAEMON | LOG_ERR);
    EXPECT_EQ(g_syslogCalls[1].message, "platform_test: warning");
    EXPECT_EQ(g_syslogCalls[1].priority, LOG_DAEMON | LOG_WARNING);
    EXPECT_EQ(g_syslogCalls[2].priority, LOG_DAEMON | LOG_INFO);
    EXPECT_EQ(g_syslogCalls[3].priority, LOG_DAEMON | LOG_INFO);
}

}  // namespace
}  // namespace orv::platform
