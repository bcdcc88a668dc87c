// What the server list dialog reads from server announcements and shows.
//
// An announcement is one UDP datagram: 'X', the server's port (u16), the
// length of its address text (u32) and the address text, little-endian,
// nothing after it. The list keeps each address once until it is cleared.
//
// Pure functions and a value type; ServerList belongs to the dialog (UI
// thread).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "panel/model/panel_strings.h"

namespace orv::panel {

inline constexpr std::uint8_t kAnnouncementMark = 'X';
inline constexpr std::size_t kAnnounceOffPort = 1;
inline constexpr std::size_t kAnnounceOffLength = 3;
inline constexpr std::size_t kAnnounceOffAddress = 7;
// Longer address texts are no address.
inline constexpr std::size_t kMaxAnnouncedAddress = 255;

struct Announcement {
    std::uint16_t port = 0;
    std::string address;

    bool operator==(const Announcement&) const = default;
};

// Nothing when the datagram is not an announcement or its length does not
// match the bytes received.
std::optional<Announcement> ParseAnnouncement(bytes::ConstBytes datagram);
std::vector<std::uint8_t> EncodeAnnouncement(const Announcement& announcement);

class ServerList {
public:
    // True when the address is new (a row is added).
    bool Add(const Announcement& announcement);
    void Clear() { rows_.clear(); }
    const std::vector<Announcement>& Rows() const { return rows_; }

private:
    std::vector<Announcement> rows_;
};

// The login result: "VWServerName:ORVVW---IP Address:<address>---PORT:<port>"
// and a second line saying whether the login worked.
std::string LoginResultText(const std::string& address, const std::string& port, bool ok,
                            Language language);

}  // namespace orv::panel
