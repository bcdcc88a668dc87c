#include "panel/model/panel_discovery.h"

#include <algorithm>

namespace orv::panel {

std::optional<Announcement> ParseAnnouncement(bytes::ConstBytes datagram) {
    std::uint8_t mark = 0;
    std::uint16_t port = 0;
    std::uint32_t length = 0;
    if (!bytes::GetU8(datagram, 0, mark) || mark != kAnnouncementMark) return std::nullopt;
    if (!bytes::Get(datagram, kAnnounceOffPort, port) ||
        !bytes::Get(datagram, kAnnounceOffLength, length)) {
        return std::nullopt;
    }
    if (length == 0 || length > kMaxAnnouncedAddress ||
        datagram.size() != kAnnounceOffAddress + length) {
        return std::nullopt;
    }
    Announcement a;
    a.port = port;
    a.address.assign(reinterpret_cast<const char*>(datagram.data() + kAnnounceOffAddress), length);
    return a;
}

std::vector<std::uint8_t> EncodeAnnouncement(const Announcement& announcement) {
    std::vector<std::uint8_t> d(kAnnounceOffAddress + announcement.address.size());
    (void)bytes::Put<std::uint8_t>(d, 0, kAnnouncementMark);
    (void)bytes::Put(d, kAnnounceOffPort, announcement.port);
    (void)bytes::Put(d, kAnnounceOffLength,
                     static_cast<std::uint32_t>(announcement.address.size()));
    std::copy(announcement.address.begin(), announcement.address.end(),
              d.begin() + kAnnounceOffAddress);
    return d;
}

bool ServerList::Add(const Announcement& announcement) {
    const bool known = std::any_of(rows_.begin(), rows_.end(), [&](const Announcement& r) {
        return r.address == announcement.address;
    });
    if (known) return false;
    rows_.push_back(announcement);
    return true;
}

std::string LoginResultText(const std::string& address, const std::string& port, bool ok,
                            Language language) {
    std::string text;
    text.append(Text(StringId::kColumnServerName, language)).append(":ORVVW---");
    text.append(Text(StringId::kColumnAddress, language)).append(":").append(address);
    text.append("---").append(Text(StringId::kColumnPort, language)).append(":").append(port);
    text.append("\n").append(Text(ok ? StringId::kLoginOk : StringId::kLoginFailed, language));
    return text;
}

}  // namespace orv::panel
