// The orvcodec command line: encode a picture with any compression code or
// encoder table entry, inspect a picture or frame packet, decode one to PNG,
// and measure every coder on one picture. main.cpp only calls Run().
#pragma once

#include <iosfwd>
#include <span>

namespace orv::orvcodec {

// Runs the command in `args` (without the program name). Returns the exit
// status: 0 done, 1 failed, 2 bad usage.
int Run(std::span<const char* const> args, std::ostream& out, std::ostream& err);

}  // namespace orv::orvcodec
