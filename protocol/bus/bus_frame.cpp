#include "protocol/bus/bus_frame.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orv::bus {
namespace {

bool KnownKind(std::uint8_t k) {
    switch (static_cast<FrameKind>(k)) {
        case FrameKind::kDesc:
        case FrameKind::kSetAlt:
        case FrameKind::kReset:
        case FrameKind::kAbort:
        case FrameKind::kFlush:
        case FrameKind::kOut:
        case FrameKind::kIn:
            return true;
    }
    return false;
}

// Reads exactly `size` bytes. kClosed when the peer closes first.
IoResult ReadFull(int fd, std::uint8_t* dst, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = recv(fd, dst + done, size - done, MSG_WAITALL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return IoResult::kClosed;
        }
    }
    return IoResult::kOk;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

void EncodeHeader(bytes::MutBytes out8, FrameKind kind, std::uint8_t endpoint,
                  std::size_t payloadLength) {
    bytes::ByteWriter w(out8);
    w.U32(static_cast<std::uint32_t>(payloadLength + kFrameHeaderSize - kLengthFieldSize));
    w.U8(static_cast<std::uint8_t>(kind));
    w.U8(endpoint);
    w.U16(0);
}

std::optional<FrameHeader> DecodeHeader(bytes::ConstBytes in8, std::string* error) {
    bytes::ByteReader r(in8);
    const std::uint32_t length = r.U32();
    const std::uint8_t kind = r.U8();
    const std::uint8_t endpoint = r.U8();
    const std::uint16_t reserved = r.U16();
    auto fail = [&](const char* why) -> std::optional<FrameHeader> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (!r.Ok()) return fail("truncated frame header");
    if (length < kFrameHeaderSize - kLengthFieldSize) return fail("frame length below 4");
    if (length - (kFrameHeaderSize - kLengthFieldSize) > kMaxPayload)
        return fail("frame length above the bus limit");
    if (reserved != 0) return fail("reserved frame field not 0");
    if (!KnownKind(kind)) return fail("unknown frame kind");
    return FrameHeader{static_cast<FrameKind>(kind), endpoint,
                       static_cast<std::uint32_t>(length - (kFrameHeaderSize - kLengthFieldSize))};
}

std::vector<std::uint8_t> EncodeDescriptor(const std::vector<SettingDescriptor>& settings) {
    std::size_t size = 1;
    for (const auto& s : settings) size += 2 + 4 * s.endpoints.size();
    std::vector<std::uint8_t> out(size);
    bytes::ByteWriter w(out);
    w.U8(static_cast<std::uint8_t>(settings.size()));
    for (const auto& s : settings) {
        w.U8(s.alternateSetting);
        w.U8(static_cast<std::uint8_t>(s.endpoints.size()));
        for (const auto& e : s.endpoints) {
            w.U8(e.address);
            w.U8(e.type);
            w.U16(e.maxPacketSize);
        }
    }
    return out;
}

std::optional<std::vector<SettingDescriptor>> DecodeDescriptor(bytes::ConstBytes payload,
                                                               std::string* error) {
    bytes::ByteReader r(payload);
    std::vector<SettingDescriptor> settings(r.U8());
    for (auto& s : settings) {
        s.alternateSetting = r.U8();
        s.endpoints.resize(r.U8());
        for (auto& e : s.endpoints) {
            e.address = r.U8();
            e.type = r.U8();
            e.maxPacketSize = r.U16();
        }
        if (!r.Ok()) break;
    }
    if (!r.Ok() || r.Remaining() != 0) {
        if (error) *error = r.Ok() ? "descriptor has trailing bytes" : "descriptor truncated";
        return std::nullopt;
    }
    return settings;
}

std::vector<SettingDescriptor> StandardAdapterDescriptor() {
    return {SettingDescriptor{0,
                              {{0x01, kEndpointTypeBulk, 512},
                               {0x02, kEndpointTypeBulk, 512},
                               {0x81, kEndpointTypeBulk, 512},
                               {0x82, kEndpointTypeBulk, 512}}}};
}

bool SendFrame(int fd, FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload) {
    std::uint8_t header[kFrameHeaderSize];
    EncodeHeader(header, kind, endpoint, payload.size());
    iovec parts[2] = {{header, sizeof header},
                      {const_cast<std::uint8_t*>(payload.data()), payload.size()}};
    std::size_t total = sizeof header + payload.size();
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = 2;
    while (total > 0) {
        const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        total -= static_cast<std::size_t>(n);
        // Advance the gather list past what went out.
        std::size_t sent = static_cast<std::size_t>(n);
        while (sent > 0 && msg.msg_iovlen > 0) {
            iovec& first = msg.msg_iov[0];
            const std::size_t take = sent < first.iov_len ? sent : first.iov_len;
            first.iov_base = static_cast<std::uint8_t*>(first.iov_base) + take;
            first.iov_len -= take;
            sent -= take;
            if (first.iov_len == 0) {
                ++msg.msg_iov;
                --msg.msg_iovlen;
            }
        }
    }
    return true;
}

IoResult RecvFrame(int fd, FrameHeader& header, std::vector<std::uint8_t>& payload,
                   std::string* error) {
    std::uint8_t raw[kFrameHeaderSize];
    if (ReadFull(fd, raw, sizeof raw) != IoResult::kOk) return IoResult::kClosed;
    std::optional<FrameHeader> h = DecodeHeader(raw, error);
    if (!h) return IoResult::kBadFrame;
    header = *h;
    payload.resize(header.payloadLength);
    if (header.payloadLength > 0 && ReadFull(fd, payload.data(), payload.size()) != IoResult::kOk)
        return IoResult::kClosed;
    return IoResult::kOk;
}

int ListenAt(const std::string& path) {
    // The socket is bound and listening under a temporary name and then
    // renamed onto `path`, so that it appears (to a watcher of the folder)
    // only once it accepts connections.
    const std::string temporary = path + "~";
    sockaddr_un addr{};
    if (!FillAddress(temporary, addr)) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    unlink(temporary.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        const int err = errno;
        unlink(temporary.c_str());
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int ConnectTo(const std::string& path) {
    sockaddr_un addr{};
    if (!FillAddress(path, addr)) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

}  // namespace orv::bus
