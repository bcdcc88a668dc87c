// Private-profile (INI) files: the service's configuration file.
//
// The format of the Windows private-profile functions: "[section]" lines open
// sections, "key=value" lines follow; section and key names are compared
// without regard to letter case; blanks around names and values are ignored,
// and a value enclosed in a pair of matching quotes is read without them.
// Lines the reader does not understand are kept as they are on rewrite.
//
// Structure values are the bytes as two uppercase hexadecimal digits each, in
// memory order, followed by two digits of a checksum: the sum of the bytes
// modulo 256. GetStruct rejects a value whose length, digits or checksum do
// not match and leaves the caller's buffer as it was.
//
// Every write is atomic and serialised: under an exclusive flock on the
// companion file "<file>.lock" (threads and processes alike) it reads the file,
// changes it, writes the result to a temporary file in the same folder, syncs
// it, renames it over the file and syncs the folder. Writers of different keys
// at the same time therefore lose nothing, and readers (which take no lock)
// always see a whole file, old or new. No lock spans several operations.
//
// Any thread; a Profile holds only its path. Writes block on the file lock
// while another writer holds it (a short read-modify-write) and on fsync.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::platform {

class Profile {
public:
    explicit Profile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // GetPrivateProfileString: the value of `key` in `section`, or
    // `defaultValue` (trailing blanks removed) when there is none. The buffer
    // forms copy at most size - 1 characters and a NUL, returning the number
    // of characters copied (size - 1 when cut; 0 for an empty buffer).
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;
    std::uint32_t GetString(std::string_view section, std::string_view key,
                            std::string_view defaultValue, std::span<char> buffer) const;

    // GetPrivateProfileString with a null key / GetPrivateProfileSectionNames:
    // names in file order. The buffer forms write each name NUL-terminated
    // and one more NUL at the end, and return the characters written without
    // the final NUL (size - 2 when the list was cut).
    std::vector<std::string> KeyNames(std::string_view section) const;
    std::uint32_t GetKeyNames(std::string_view section, std::span<char> buffer) const;
    std::vector<std::string> SectionNames() const;
    std::uint32_t GetSectionNames(std::span<char> buffer) const;

    // GetPrivateProfileStruct: fills `out` from the value; false (and `out`
    // untouched) when the value is missing or its length, digits or checksum
    // are wrong.
    bool GetStruct(std::string_view section, std::string_view key,
                   std::span<std::uint8_t> out) const;

    // WritePrivateProfileString / WritePrivateProfileStruct. Creates the file
    // (and its folder) when missing; replaces the key's line or adds it at the
    // end of its section, adding the section at the end of the file. False
    // when the file cannot be written, or a name or value would break the
    // format (a line break, a '=' in the key, a ']' in the section name).
    [[nodiscard]] bool WriteString(std::string_view section, std::string_view key,
                                   std::string_view value);
    [[nodiscard]] bool WriteStruct(std::string_view section, std::string_view key,
                                   std::span<const std::uint8_t> data);

    // WritePrivateProfileString with a null value / null key: removes the
    // key from the first section of that name (its first line when the key
    // is there twice), or that first section with all its keys. As the
    // Windows functions do, a duplicate further on is left, and the next
    // read finds it. True when the key or section was removed or was not
    // there; false when the file cannot be written.
    [[nodiscard]] bool DeleteKey(std::string_view section, std::string_view key);
    [[nodiscard]] bool DeleteSection(std::string_view section);

    // A whole section to write: its name and its key lines in order.
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };
    // In one atomic write: removes every section (duplicates included) whose
    // name `drop` accepts, then adds `sections` at the end of the file. A
    // reader sees the file before or after, never between. False when the
    // file cannot be written or a name or value would break the format (then
    // nothing is written).
    [[nodiscard]] bool ReplaceSections(const std::function<bool(std::string_view name)>& drop,
                                       const std::vector<Section>& sections);

    // The value text of a structure (exposed for tests and tools).
    static std::string EncodeStruct(std::span<const std::uint8_t> data);

    // The reading side over the text of a file, as the members above read
    // the file; pure (exposed for tests and fuzzing). FindIn gives the value
    // without its quotes, or nothing when there is no such key.
    static std::optional<std::string> FindIn(std::string_view text, std::string_view section,
                                             std::string_view key);
    static std::vector<std::string> KeyNamesIn(std::string_view text, std::string_view section);
    static std::vector<std::string> SectionNamesIn(std::string_view text);
    // A structure value into `out`: nullptr, or why it is refused (`out` is
    // then untouched).
    static const char* DecodeStruct(std::string_view value, std::span<std::uint8_t> out);
    // The buffer form of a name list, as GetKeyNames and GetSectionNames
    // write it.
    static std::uint32_t CopyList(const std::vector<std::string>& names, std::span<char> buffer);

private:
    const std::string path_;
};

}  // namespace orv::platform
