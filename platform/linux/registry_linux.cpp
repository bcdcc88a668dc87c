#include "platform/registry.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/diag.h"
#include "platform/linux/text.h"
#include "platform/paths.h"

namespace orv::platform {
namespace {

// "HKLM\Software\X\" -> "software\x": the form keys are stored and looked up in.
std::string NormaliseKey(std::string_view path) {
    std::string key = text::Lower(text::Trim(path));
    for (std::string_view root : {"hkey_local_machine\\", "hklm\\"})
        if (key.starts_with(root)) key.erase(0, root.size());
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

bool ParseDword(std::string_view s, std::uint32_t& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

Registry Registry::Load() {
    return Load(RegistryFilePath());
}

Registry Registry::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::stringstream all;
    all << in.rdbuf();
    Registry reg = Parse(all.str(), path);
    for (const std::string& problem : reg.problems_) Diagnostic("%s\n", problem.c_str());
    return reg;
}

Registry Registry::Parse(std::string_view text, std::string_view origin) {
    Registry reg;
    Key* key = nullptr;
    text::ForEachLine(text, [&](std::string_view raw, std::size_t number) {
        auto skip = [&](const char* reason) {
            reg.problems_.push_back(std::string(origin) + ":" + std::to_string(number) + ": " +
                                    reason + ", line skipped");
        };
        const std::string_view line = text::Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') return;
        if (line[0] == '[') {
            key = nullptr;
            if (line.back() != ']') return skip("key line without closing ']'");
            const std::string path = NormaliseKey(line.substr(1, line.size() - 2));
            if (path.empty()) return skip("empty key path");
            key = &reg.keys_[path];
            return;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return skip("no '=' in value line");
        if (!key) return skip("value outside any [key]");
        const std::string name = text::Lower(text::Trim(line.substr(0, eq)));
        if (name.empty()) return skip("empty value name");
        // The data is kept as written after the type prefix (only the line's
        // own outer blanks are trimmed).
        const std::string_view data = line.substr(eq + 1);
        const auto colon = data.find(':');
        const std::string_view typeName =
            colon == std::string_view::npos ? data : text::Trim(data.substr(0, colon));
        Value value;
        if (text::EqualsNoCase(typeName, "REG_SZ")) {
            value.type = RegType::kSz;
        } else if (text::EqualsNoCase(typeName, "REG_EXPAND_SZ")) {
            value.type = RegType::kExpandSz;
        } else if (text::EqualsNoCase(typeName, "REG_DWORD")) {
            value.type = RegType::kDword;
        } else {
            return skip("unknown type (REG_SZ, REG_EXPAND_SZ or REG_DWORD expected)");
        }
        if (colon == std::string_view::npos) return skip("no ':' after the type");
        value.text = std::string(data.substr(colon + 1));
        if (value.type == RegType::kDword && !ParseDword(text::Trim(value.text), value.dword))
            return skip("REG_DWORD data is not a 32-bit decimal or 0x hexadecimal number");
        if (!key->emplace(name, std::move(value)).second)
            return skip("value defined twice in its key, first one kept");
    });
    return reg;
}

bool Registry::HasKey(std::string_view keyPath) const {
    return keys_.contains(NormaliseKey(keyPath));
}

const Registry::Value* Registry::Find(std::string_view keyPath, std::string_view name) const {
    const auto key = keys_.find(NormaliseKey(keyPath));
    if (key == keys_.end()) return nullptr;
    const auto value = key->second.find(text::Lower(name));
    return value == key->second.end() ? nullptr : &value->second;
}

ErrorCode Registry::ReadString(std::string_view keyPath, std::string_view name, std::string& out,
                               std::size_t maxBytes, RegType* type) const {
    const Value* value = Find(keyPath, name);
    if (!value) return kErrorFileNotFound;
    if (value->type != RegType::kSz && value->type != RegType::kExpandSz) return kErrorInvalidData;
    if (maxBytes != 0 && value->text.size() + 1 > maxBytes) return kErrorMoreData;
    out = value->text;
    if (type) *type = value->type;
    return kErrorSuccess;
}

ErrorCode Registry::ReadDword(std::string_view keyPath, std::string_view name,
                              std::uint32_t& out) const {
    const Value* value = Find(keyPath, name);
    if (!value) return kErrorFileNotFound;
    if (value->type != RegType::kDword) return kErrorInvalidData;
    out = value->dword;
    return kErrorSuccess;
}

std::string_view Registry::FirstKey(std::initializer_list<std::string_view> keyPaths) const {
    for (std::string_view path : keyPaths)
        if (HasKey(path)) return path;
    return {};
}

ErrorCode Registry::ReadString(std::initializer_list<std::string_view> keyPaths,
                               std::string_view name, std::string& out,
                               std::size_t maxBytes) const {
    const std::string_view key = FirstKey(keyPaths);
    return key.empty() ? kErrorFileNotFound : ReadString(key, name, out, maxBytes);
}

ErrorCode Registry::ReadDword(std::initializer_list<std::string_view> keyPaths,
                              std::string_view name, std::uint32_t& out) const {
    const std::string_view key = FirstKey(keyPaths);
    return key.empty() ? kErrorFileNotFound : ReadDword(key, name, out);
}

}  // namespace orv::platform
