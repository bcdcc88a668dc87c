// Small text helpers shared by the registry and profile readers (internal to
// the platform layer). Names in both are ASCII and compared without regard to
// letter case, as the Windows functions compare them.
#pragma once

#include <string>
#include <string_view>

namespace orv::platform::text {

inline std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

inline std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// Calls `line(text, number)` for every line of `all` (1-based numbers, a
// trailing CR removed).
template <typename F>
void ForEachLine(std::string_view all, F line) {
    std::size_t number = 0;
    while (!all.empty()) {
        const auto end = all.find('\n');
        std::string_view l = all.substr(0, end);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        line(l, ++number);
        all = end == std::string_view::npos ? std::string_view{} : all.substr(end + 1);
    }
}

}  // namespace orv::platform::text
