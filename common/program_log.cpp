#include "common/program_log.h"

namespace orv {

void ProgramLog::Write(const char* format, va_list args) {
    if (quiet_) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::fprintf(stream_, "%s: %s\n", program_, line);
    std::fflush(stream_);
}

}  // namespace orv
