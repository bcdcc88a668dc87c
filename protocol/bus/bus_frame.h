// The simulated USB bus: framing and sockets shared by both ends.
//
// A folder (platform::BusDir()) holds one Unix stream socket per simulated
// adapter, "<name>.sock"; the socket's path is the device path. One connection
// carries frames:
//
//   u32 length of what follows (LE) | u8 kind | u8 endpoint | u16 0 | payload
//
//   DESC  0x01 device->host, first frame: u8 setting count; per setting:
//              u8 bAlternateSetting, u8 bNumEndpoints, per endpoint:
//              u8 address, u8 type (2 = bulk), u16 max packet size
//   SETALT 0x02 host->device, payload u8 alternate setting
//   RESET 0x03 / ABORT 0x04 / FLUSH 0x05 host->device, on `endpoint`
//   OUT   0x10 host->device, one bulk OUT transfer on `endpoint`
//   IN    0x11 device->host, one bulk IN transfer on `endpoint`
//
// Pure encode/decode functions plus blocking socket helpers; no threads, no
// locks. A socket must be written by one thread at a time (callers serialise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace orv::bus {

enum class FrameKind : std::uint8_t {
    kDesc = 0x01,
    kSetAlt = 0x02,
    kReset = 0x03,
    kAbort = 0x04,
    kFlush = 0x05,
    kOut = 0x10,
    kIn = 0x11,
};

inline constexpr std::size_t kFrameHeaderSize = 8;  // length field + kind + endpoint + 0
inline constexpr std::size_t kLengthFieldSize = 4;
// Largest payload a peer may send: bulk transfers of the system stay below
// 5 MiB; anything bigger is a corrupt stream.
inline constexpr std::size_t kMaxPayload = 16u * 1024u * 1024u;
inline constexpr std::uint8_t kEndpointTypeBulk = 2;

struct FrameHeader {
    FrameKind kind = FrameKind::kOut;
    std::uint8_t endpoint = 0;
    std::uint32_t payloadLength = 0;
};

void EncodeHeader(bytes::MutBytes out8, FrameKind kind, std::uint8_t endpoint,
                  std::size_t payloadLength);

// Parses the 8 header bytes. Nothing (and `error` set) when the length is too
// small or too large, the reserved field is not 0 or the kind is unknown.
std::optional<FrameHeader> DecodeHeader(bytes::ConstBytes in8, std::string* error);

struct EndpointDescriptor {
    std::uint8_t address = 0;
    std::uint8_t type = kEndpointTypeBulk;
    std::uint16_t maxPacketSize = 512;
};

struct SettingDescriptor {
    std::uint8_t alternateSetting = 0;
    std::vector<EndpointDescriptor> endpoints;
};

std::vector<std::uint8_t> EncodeDescriptor(const std::vector<SettingDescriptor>& settings);
// Nothing (and `error` set) when the payload is truncated or has bytes left over.
std::optional<std::vector<SettingDescriptor>> DecodeDescriptor(bytes::ConstBytes payload,
                                                               std::string* error);

// The usual descriptor of an adapter: setting 0 with bulk 0x01, 0x02 out and
// 0x81, 0x82 in.
std::vector<SettingDescriptor> StandardAdapterDescriptor();

enum class IoResult { kOk, kClosed, kBadFrame };

// Sends one frame: header and payload in one gathered write, retried until all
// is out. False when the peer is gone.
bool SendFrame(int fd, FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload);

// Receives one frame into `header` and `payload` (resized to fit). kClosed on
// an orderly or abortive close, kBadFrame (with `error`) on a malformed header.
IoResult RecvFrame(int fd, FrameHeader& header, std::vector<std::uint8_t>& payload,
                   std::string* error);

// Device side: a listening socket at `path` (an old socket file is replaced;
// the file appears only once the socket listens; `path` plus one character
// must fit a socket address).
// Host side: a connection to `path`. Both return -1 on failure, errno set.
int ListenAt(const std::string& path);
int ConnectTo(const std::string& path);

}  // namespace orv::bus
