#include "platform/posix/wakeable_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orv::posix {

WakeableWait::WakeableWait(WakeKind kind)
    : kind_(kind), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeableWait::~WakeableWait() {
    if (wakeFd_ >= 0) close(wakeFd_);
}

void WakeableWait::Wake() {
    const std::uint64_t one = 1;
    // Only a counter overflow (never, at one per call) can make this fail.
    (void)!write(wakeFd_, &one, sizeof one);
}

WakeableWait::Readiness WakeableWait::Wait(std::initializer_list<int> fds, int timeoutMs) {
    Readiness r;
    if (!Ok() || fds.size() > kMaxDescriptors) {
        r.failed = true;
        return r;
    }
    pollfd polled[kMaxDescriptors + 1];
    std::size_t n = 0;
    for (const int fd : fds) polled[n++] = {fd, POLLIN, 0};
    polled[n] = {wakeFd_, POLLIN, 0};
    int rc;
    while ((rc = poll(polled, n + 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (rc < 0) {
        r.failed = true;
        return r;
    }
    for (std::size_t i = 0; i < n; ++i) r.ready[i] = polled[i].revents != 0;
    r.woken = polled[n].revents != 0;
    if (r.woken && kind_ == WakeKind::kConsumed) {
        std::uint64_t count = 0;
        (void)!read(wakeFd_, &count, sizeof count);
    }
    return r;
}

}  // namespace orv::posix
