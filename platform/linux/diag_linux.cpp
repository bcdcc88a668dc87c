#include "platform/diag.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace orv::platform {
namespace {

void StderrSink(const char* line) {
    std::fputs(line, stderr);
}

std::atomic<DiagnosticSink> g_sink{&StderrSink};

}  // namespace

void SetDiagnosticSink(DiagnosticSink sink) {
    g_sink.store(sink ? sink : &StderrSink);
}

void Diagnostic(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_sink.load()(line);
}

}  // namespace orv::platform
