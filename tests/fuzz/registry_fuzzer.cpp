// The registry file: parsed, and the system's values read from it.
#include "platform/registry.h"

using namespace orv::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Registry r = Registry::Parse({reinterpret_cast<const char*>(data), size}, "fuzz");
    std::string text;
    std::uint32_t dword = 0;
    RegType type{};
    for (const char* name : {"ORVFirmwarePath", "FirmwareVersion", "LayoutVersion", "CALG"}) {
        r.ReadString({kInfoKey, kInfoKeyWow}, name, text);
        r.ReadString(kInfoKey, name, text, kRegVersionMaxBytes, &type);
        r.ReadDword({kControlSetKey, kControlSetKeyWow}, name, dword);
    }
    return 0;
}
