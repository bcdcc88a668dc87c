#include "panel/model/panel_log.h"

#include "common/program_log.h"

namespace orv::panel {
namespace {
ProgramLog& Log() {
    static ProgramLog log("kalmiro", stderr);
    return log;
}
}  // namespace

void PanelLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log().Write(format, args);
    va_end(args);
}

void SetPanelLogQuiet(bool quiet) {
    Log().SetQuiet(quiet);
}

}  // namespace orv::panel
