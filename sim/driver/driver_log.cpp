#include "sim/driver/driver_log.h"

#include "common/program_log.h"

namespace orv::driver {
namespace {
ProgramLog& Log() {
    static ProgramLog log("orv-display-driver", stdout);
    return log;
}
}  // namespace

void DriverLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log().Write(format, args);
    va_end(args);
}

void SetDriverLogQuiet(bool quiet) {
    Log().SetQuiet(quiet);
}

}  // namespace orv::driver
