// The registry values the system reads under HKEY_LOCAL_MACHINE, kept in one
// text file, RegistryFilePath():
//
//   ; comment (also #)
//   [Software\ORVVideoWallInfo]
//   ORVFirmwarePath=REG_SZ:/usr/share/orv-videowall/firmware/Firmware0.bin
//   FirmwareVersion=REG_EXPAND_SZ:1.2.3
//   [Software\ORVVideoWallControlSet]
//   CALG=REG_DWORD:228          (decimal, or 0x hexadecimal)
//
// Key paths and value names are compared without regard to letter case; a
// trailing backslash and a leading "HKEY_LOCAL_MACHINE\" or "HKLM\" are
// ignored. A malformed line is skipped and reported (Diagnostic) with its
// line number and reason; the rest of the file still counts. The system only
// reads this file; the installer writes it.
//
// Reads return the Windows numbers: kErrorSuccess, kErrorFileNotFound (no
// file, key or value), kErrorInvalidData (wrong type), kErrorMoreData (the
// string does not fit the caller's limit).
//
// The system's values and how they are looked up:
//   ORVFirmwarePath  string  {kInfoKey, kInfoKeyWow}
//   FirmwareVersion  string  kInfoKey, at most kRegVersionMaxBytes
//   LayoutVersion    string  kInfoKey, at most kRegVersionMaxBytes
//   CALG             dword   {kControlSetKey, kControlSetKeyWow}
//
// A Registry is an immutable snapshot: any thread may read it. Load again to
// see a changed file (it is small; callers read it when they need a value).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace orv::platform {

enum class RegType : std::uint32_t { kSz = 1, kExpandSz = 2, kDword = 4 };  // REG_* numbers

// The key paths of the system's values and their 32-bit-view fallbacks.
inline constexpr std::string_view kInfoKey = "Software\\ORVVideoWallInfo";
inline constexpr std::string_view kInfoKeyWow = "Software\\Wow6432Node\\ORVVideoWallInfo";
inline constexpr std::string_view kControlSetKey = "Software\\ORVVideoWallControlSet";
inline constexpr std::string_view kControlSetKeyWow =
    "Software\\Wow6432Node\\ORVVideoWallControlSet";

// Size limit of FirmwareVersion and LayoutVersion, terminating NUL included.
inline constexpr std::size_t kRegVersionMaxBytes = 512;

class Registry {
public:
    // Reads RegistryFilePath() (or `path`). A missing file gives an empty
    // registry in which every read fails with kErrorFileNotFound.
    static Registry Load();
    static Registry Load(const std::string& path);
    // Parses file text; `origin` names it in diagnostics.
    static Registry Parse(std::string_view text, std::string_view origin = "registry");

    bool HasKey(std::string_view keyPath) const;

    // A REG_SZ or REG_EXPAND_SZ value (no expansion is done). `maxBytes` is
    // the caller's buffer size in bytes, terminating NUL included (0: no
    // limit); a longer value fails with kErrorMoreData. `type` (optional)
    // receives the stored type. `out` is only changed on success.
    ErrorCode ReadString(std::string_view keyPath, std::string_view name, std::string& out,
                         std::size_t maxBytes = 0, RegType* type = nullptr) const;
    // A REG_DWORD value.
    ErrorCode ReadDword(std::string_view keyPath, std::string_view name, std::uint32_t& out) const;

    // The same reads from the first of `keyPaths` that exists (the key, not
    // the value, decides: as opening the key with a fallback does).
    ErrorCode ReadString(std::initializer_list<std::string_view> keyPaths, std::string_view name,
                         std::string& out, std::size_t maxBytes = 0) const;
    ErrorCode ReadDword(std::initializer_list<std::string_view> keyPaths, std::string_view name,
                        std::uint32_t& out) const;

    // What Parse skipped, one line each ("registry:7: ...").
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    struct Value {
        RegType type = RegType::kSz;
        std::string text;
        std::uint32_t dword = 0;
    };
    using Key = std::map<std::string, Value>;  // by lower-case name

    const Value* Find(std::string_view keyPath, std::string_view name) const;
    std::string_view FirstKey(std::initializer_list<std::string_view> keyPaths) const;

    std::map<std::string, Key> keys_;  // by normalised lower-case path
    std::vector<std::string> problems_;
};

}  // namespace orv::platform
