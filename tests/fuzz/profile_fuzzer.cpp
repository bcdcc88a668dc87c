// The configuration file's reader: every section and key found, every value
// read as a structure, and the name lists copied into buffers of every small
// size (each its own allocation, so that a write past one is caught).
#include <cctype>
#include <vector>

#include "platform/profile.h"

using orv::platform::Profile;

namespace {

void CopyIntoEverySize(const std::vector<std::string>& names) {
    for (std::size_t size = 0; size <= 24; ++size) {
        std::vector<char> buffer(size);
        const std::uint32_t n = Profile::CopyList(names, buffer);
        if (n + (size > 0 ? 1 : 0) > size) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> sections = Profile::SectionNamesIn(text);
    CopyIntoEverySize(sections);
    for (const std::string& section : sections) {
        const std::vector<std::string> keys = Profile::KeyNamesIn(text, section);
        CopyIntoEverySize(keys);
        for (const std::string& key : keys) {
            const auto value = Profile::FindIn(text, section, key);
            if (!value) __builtin_trap();  // a listed key has a value
            // A structure that decodes encodes back to its value (digits in
            // upper case).
            std::vector<std::uint8_t> out(value->size() / 2 > 0 ? value->size() / 2 - 1 : 0);
            if (Profile::DecodeStruct(*value, out) != nullptr) continue;
            const std::string again = Profile::EncodeStruct(out);
            for (std::size_t i = 0; i < again.size(); ++i) {
                if (again[i] != std::toupper(static_cast<unsigned char>((*value)[i])))
                    __builtin_trap();
            }
        }
    }
    return 0;
}
