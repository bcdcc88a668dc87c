// The keep-awake request of the service: a logind "sleep:idle" inhibitor
// (mode "block") held from Acquire to Release, so the machine neither
// suspends nor counts as idle while the wall runs. Where there is no system
// bus or no logind (containers, minimal systems) Acquire logs that and does
// nothing: the result says so, and the service carries on.
//
// Called by the device manager's start and stop; not for concurrent use.
// Acquire blocks for one D-Bus round trip (the bus's own time-out bounds it).
#pragma once

#include <memory>
#include <string>

namespace orv::platform {

class PowerRequest {
public:
    enum class State {
        kReleased,     // nothing held (before Acquire, after Release)
        kHeld,         // the inhibitor is held
        kUnavailable,  // no system bus or no logind: a logged no-op
        kFailed,       // logind refused (logged)
    };

    explicit PowerRequest(std::string who = "zentrelle",
                          std::string why = "The video wall is being driven");
    ~PowerRequest();  // releases
    PowerRequest(const PowerRequest&) = delete;
    PowerRequest& operator=(const PowerRequest&) = delete;

    // Takes the inhibitor (again a no-op when already held).
    State Acquire();
    void Release();
    State Current() const { return state_; }

private:
    struct Inhibitor;  // the inhibitor's file descriptor; closing it withdraws the request

    const std::string who_;
    const std::string why_;
    std::unique_ptr<Inhibitor> inhibitor_;
    State state_ = State::kReleased;
};

}  // namespace orv::platform
