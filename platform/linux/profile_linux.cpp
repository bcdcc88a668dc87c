#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "platform/diag.h"
#include "platform/linux/text.h"
#include "platform/paths.h"

namespace orv::platform {
namespace {

using Lines = std::vector<std::string>;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    if (in) all << in.rdbuf();
    return all.str();
}

Lines SplitLines(std::string_view all) {
    Lines lines;
    text::ForEachLine(all, [&](std::string_view line, std::size_t) { lines.emplace_back(line); });
    return lines;
}

// "[name]" (blanks allowed around the name and before the bracket).
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = text::Trim(line);
    if (line.empty() || line[0] != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return text::Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> KeyOf(std::string_view line) {
    line = text::Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '[') return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{text::Trim(line.substr(0, eq)), text::Trim(line.substr(eq + 1))};
}

// Lines [header, end) of the first section named `section`.
struct Range {
    std::size_t header;
    std::size_t end;
};

std::optional<Range> FindSection(const Lines& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (!name || !text::EqualsNoCase(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionOf(lines[end])) ++end;
        return Range{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const Lines& lines, Range range, std::string_view key) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const auto kl = KeyOf(lines[i]);
        if (kl && text::EqualsNoCase(kl->key, key)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> FindValue(const Lines& lines, std::string_view section,
                                     std::string_view key) {
    const auto range = FindSection(lines, section);
    if (!range) return std::nullopt;
    const auto at = FindKey(lines, *range, key);
    if (!at) return std::nullopt;
    std::string_view value = KeyOf(lines[*at])->value;
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::uint32_t CopyString(std::string_view s, std::span<char> buffer) {
    if (buffer.empty()) return 0;
    const std::size_t n = std::min(s.size(), buffer.size() - 1);
    std::memcpy(buffer.data(), s.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the file with `lines`: temporary file in the same folder, fsync,
// rename, fsync of the folder. The caller holds the file lock.
bool Replace(const std::string& path, const Lines& lines) {
    std::string content;
    for (const std::string& line : lines) content += line + "\n";
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    const bool written = WriteAll(fd, content) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

// Read-modify-write under the companion lock. `change` edits the lines and
// returns false when nothing changed (the file is then left alone).
bool Modify(const std::string& path, const std::function<bool(Lines&)>& change) {
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
    const std::string lockPath = path + ".lock";
    const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        Diagnostic("profile %s: cannot open the lock file: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    int rc;
    while ((rc = flock(lockFd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    bool ok = rc == 0;
    if (ok) {
        Lines lines = SplitLines(ReadText(path));
        if (change(lines)) ok = Replace(path, lines);
        if (!ok) Diagnostic("profile %s: cannot write: %s\n", path.c_str(), strerror(errno));
    }
    close(lockFd);  // releases the lock
    return ok;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

// Writes "a\0b\0\0"; size - 2 when the list had to be cut.
std::uint32_t Profile::CopyList(const std::vector<std::string>& names, std::span<char> buffer) {
    if (buffer.size() < 2) {
        if (!buffer.empty()) buffer[0] = '\0';
        return 0;
    }
    const std::size_t last = buffer.size() - 1;  // reserved for the final NUL
    std::size_t pos = 0;
    for (const std::string& name : names) {
        if (pos + name.size() + 1 > last) {
            // pos <= last; at last the previous name filled the buffer and
            // no part of this one fits.
            const std::size_t n = pos < last ? last - 1 - pos : 0;
            std::memcpy(buffer.data() + pos, name.data(), n);
            buffer[last - 1] = '\0';
            buffer[last] = '\0';
            return static_cast<std::uint32_t>(buffer.size() - 2);
        }
        std::memcpy(buffer.data() + pos, name.data(), name.size());
        pos += name.size();
        buffer[pos++] = '\0';
    }
    buffer[pos] = '\0';
    return static_cast<std::uint32_t>(pos);
}

std::optional<std::string> Profile::FindIn(std::string_view text, std::string_view section,
                                           std::string_view key) {
    return FindValue(SplitLines(text), section, key);
}

std::vector<std::string> Profile::KeyNamesIn(std::string_view text, std::string_view section) {
    const Lines lines = SplitLines(text);
    std::vector<std::string> names;
    if (const auto range = FindSection(lines, section))
        for (std::size_t i = range->header + 1; i < range->end; ++i)
            if (const auto kl = KeyOf(lines[i])) names.emplace_back(kl->key);
    return names;
}

std::vector<std::string> Profile::SectionNamesIn(std::string_view text) {
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(text))
        if (const auto name = SectionOf(line)) names.emplace_back(*name);
    return names;
}

std::string Profile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
    if (auto value = FindIn(ReadText(path_), section, key)) return *value;
    const auto last = defaultValue.find_last_not_of(' ');
    return std::string(defaultValue.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

std::uint32_t Profile::GetString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue, std::span<char> buffer) const {
    return CopyString(GetString(section, key, defaultValue), buffer);
}

std::vector<std::string> Profile::KeyNames(std::string_view section) const {
    return KeyNamesIn(ReadText(path_), section);
}

std::uint32_t Profile::GetKeyNames(std::string_view section, std::span<char> buffer) const {
    return CopyList(KeyNames(section), buffer);
}

std::vector<std::string> Profile::SectionNames() const {
    return SectionNamesIn(ReadText(path_));
}

std::uint32_t Profile::GetSectionNames(std::span<char> buffer) const {
    return CopyList(SectionNames(), buffer);
}

std::string Profile::EncodeStruct(std::span<const std::uint8_t> data) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    };
    for (const std::uint8_t b : data) {
        put(b);
        sum = static_cast<std::uint8_t>(sum + b);
    }
    put(sum);
    return text;
}

const char* Profile::DecodeStruct(std::string_view value, std::span<std::uint8_t> out) {
    if (value.size() != 2 * (out.size() + 1)) return "structure of the wrong length";
    std::vector<std::uint8_t> bytes(out.size() + 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = HexDigit(value[2 * i]);
        const int lo = HexDigit(value[2 * i + 1]);
        if (hi < 0 || lo < 0) return "structure with a character that is not hexadecimal";
        bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < out.size(); ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    if (sum != bytes.back()) return "structure with a wrong checksum";
    std::copy(bytes.begin(), bytes.end() - 1, out.begin());
    return nullptr;
}

bool Profile::GetStruct(std::string_view section, std::string_view key,
                        std::span<std::uint8_t> out) const {
    const auto value = FindIn(ReadText(path_), section, key);
    if (!value) return false;
    if (const char* reason = DecodeStruct(*value, out)) {
        Diagnostic("profile %s: [%.*s] %.*s: %s, value ignored\n", path_.c_str(),
                   static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()),
                   key.data(), reason);
        return false;
    }
    return true;
}

namespace {

// Whether a key line (or a section name alone, with an empty key) can be
// written without breaking the format; logs a refusal.
bool Writable(const std::string& path, std::string_view section, std::string_view key,
              std::string_view value, bool sectionOnly = false) {
    const std::string_view name = text::Trim(key);
    if (text::Trim(section).empty() || HasLineBreak(section) ||
        section.find(']') != std::string_view::npos ||
        (!sectionOnly &&
         (name.empty() || HasLineBreak(key) || HasLineBreak(value) ||
          key.find('=') != std::string_view::npos || name[0] == ';' || name[0] == '['))) {
        Diagnostic("profile %s: refused to write a name or value that breaks the format\n",
                   path.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool Profile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!Writable(path_, section, key, value)) return false;
    const std::string_view name = text::Trim(key);
    const std::string line = std::string(name) + "=" + std::string(value);
    return Modify(path_, [&](Lines& lines) {
        const auto range = FindSection(lines, section);
        if (!range) {
            if (!lines.empty() && !text::Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + std::string(text::Trim(section)) + "]");
            lines.push_back(line);
            return true;
        }
        if (const auto at = FindKey(lines, *range, name)) {
            if (lines[*at] == line) return false;
            lines[*at] = line;
            return true;
        }
        std::size_t insert = range->end;
        while (insert > range->header + 1 && text::Trim(lines[insert - 1]).empty()) --insert;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert), line);
        return true;
    });
}

bool Profile::WriteStruct(std::string_view section, std::string_view key,
                          std::span<const std::uint8_t> data) {
    return WriteString(section, key, EncodeStruct(data));
}

bool Profile::DeleteKey(std::string_view section, std::string_view key) {
    return Modify(path_, [&](Lines& lines) {
        const auto range = FindSection(lines, section);
        const auto at = range ? FindKey(lines, *range, key) : std::nullopt;
        if (!at) return false;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
        return true;
    });
}

bool Profile::DeleteSection(std::string_view section) {
    return Modify(path_, [&](Lines& lines) {
        const auto range = FindSection(lines, section);
        if (!range) return false;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                    lines.begin() + static_cast<std::ptrdiff_t>(range->end));
        return true;
    });
}

bool Profile::ReplaceSections(const std::function<bool(std::string_view name)>& drop,
                              const std::vector<Section>& sections) {
    for (const Section& section : sections) {
        if (!Writable(path_, section.name, {}, {}, true)) return false;
        for (const auto& [key, value] : section.keys)
            if (!Writable(path_, section.name, key, value)) return false;
    }
    return Modify(path_, [&](Lines& lines) {
        bool changed = false;
        for (std::size_t i = 0; i < lines.size();) {
            const auto name = SectionOf(lines[i]);
            if (!name || !drop(*name)) {
                ++i;
                continue;
            }
            std::size_t end = i + 1;
            while (end < lines.size() && !SectionOf(lines[end])) ++end;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                        lines.begin() + static_cast<std::ptrdiff_t>(end));
            changed = true;
        }
        for (const Section& section : sections) {
            if (!lines.empty() && !text::Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + std::string(text::Trim(section.name)) + "]");
            for (const auto& [key, value] : section.keys)
                lines.push_back(std::string(text::Trim(key)) + "=" + value);
            changed = true;
        }
        return changed;
    });
}

}  // namespace orv::platform
