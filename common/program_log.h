// A stand-alone program's own trace: one line per call, "<program>: <text>\n"
// on the program's stream, flushed at once, unless silenced (tests and
// benchmarks that provoke many lines on purpose). Text is formatted into 512
// bytes; longer text is cut.
//
// Any thread (stdio serialises each line); SetQuiet may race with Write.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace orv {

class ProgramLog {
public:
    // `program` must outlive the log (a string literal); `stream` is stdout
    // or stderr.
    ProgramLog(const char* program, std::FILE* stream) : program_(program), stream_(stream) {}

    void Write(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    const char* const program_;
    std::FILE* const stream_;
    std::atomic<bool> quiet_{false};
};

}  // namespace orv
