// Names the calling thread, so that top -H, gdb and the thread catalogue in
// docs/threads.md agree on who is who.
//
// Any thread, for itself only; no locks, does not block.
#pragma once

#include <cstddef>
#include <string_view>

namespace orv::platform {

// The OS keeps at most this many characters of a thread name.
inline constexpr std::size_t kMaxThreadNameLength = 15;

// Gives the calling thread `name`, cut to kMaxThreadNameLength characters.
void SetCurrentThreadName(std::string_view name);

}  // namespace orv::platform
