#include "sim/adapter/sim_log.h"

#include "common/program_log.h"

namespace orv::sim {
namespace {
ProgramLog& Log() {
    static ProgramLog log("orv-adapter-sim", stderr);
    return log;
}
}  // namespace

void SetSimLogQuiet(bool quiet) {
    Log().SetQuiet(quiet);
}

void SimLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log().Write(format, args);
    va_end(args);
}

}  // namespace orv::sim
