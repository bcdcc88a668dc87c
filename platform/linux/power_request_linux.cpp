#include "platform/power_request.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/diag.h"

namespace orv::platform {

struct PowerRequest::Inhibitor {
    explicit Inhibitor(int descriptor) : fd(descriptor) {}
    ~Inhibitor() { close(fd); }
    const int fd;
};

PowerRequest::PowerRequest(std::string who, std::string why)
    : who_(std::move(who)), why_(std::move(why)) {}

PowerRequest::~PowerRequest() {
    Release();
}

PowerRequest::State PowerRequest::Acquire() {
    if (inhibitor_) return state_;
    sd_bus* bus = nullptr;
    int rc = sd_bus_open_system(&bus);
    if (rc < 0) {
        Diagnostic("keep-awake request not taken: no system bus (%s)\n", strerror(-rc));
        return state_ = State::kUnavailable;
    }
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    rc = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                            "sleep:idle", who_.c_str(), why_.c_str(), "block");
    int fd = -1;
    if (rc >= 0 && sd_bus_message_read(reply, "h", &fd) >= 0) {
        // The descriptor belongs to the reply; keep a copy of our own.
        const int held = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (held >= 0) {
            inhibitor_ = std::make_unique<Inhibitor>(held);
            state_ = State::kHeld;
        } else {
            Diagnostic("keep-awake request not taken: %s\n", strerror(errno));
            state_ = State::kFailed;
        }
    } else if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                      SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
               rc == -ENOENT || rc == -ECONNREFUSED) {
        Diagnostic("keep-awake request not taken: logind is not running\n");
        state_ = State::kUnavailable;
    } else {
        Diagnostic("keep-awake request refused: %s\n",
                   error.message ? error.message : strerror(-rc));
        state_ = State::kFailed;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return state_;
}

void PowerRequest::Release() {
    inhibitor_.reset();
    state_ = State::kReleased;
}

}  // namespace orv::platform
