// Builders and checks for the packets exchanged with an adapter.
//
// Requests (what the service sends), replies and notifications (what an
// adapter sends back), the reply checks in the order the service applies them,
// notification parsing and the OUT pipe a packet goes to. Every layout comes
// from packet_header.h; every builder starts from a zeroed buffer and applies
// the 512 length rule.
//
// Pure functions and value types: no locks, any thread. ShowFrameFilter is the
// one stateful piece and is safe to share between threads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "protocol/adapter/packet_header.h"

namespace orv::adapter {

using Packet = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- requests

// The 27-byte body of a SendControlCommand command (packet offsets 16..42):
// ControlWord at body offset 0, data type at 4, fields from 5.
using ControlBody = std::array<std::uint8_t, kControlBodySize>;

// The 43-byte command: magic, length 43, body.
Packet BuildControlCommand(const ControlBody& body);

// Bodies. `secondOutput` sets bit 28 of the ControlWord.
ControlBody PowerOnBody();                                    // 0x32, byte 21 = 1
ControlBody OutputPowerBody(std::uint8_t portBit, bool off);  // 0x31, bit 28 when port bit is 1
ControlBody CommitBody();                                     // 0x45
// 76, 63 or 65: region size RW x RH and size in the wall W x H.
ControlBody ViewGeometryBody(std::uint8_t viewType, int screenIndex, std::uint16_t regionW,
                             std::uint16_t regionH, std::uint16_t wallW, std::uint16_t wallH);
// 64 or 62: as geometry plus the current mode MW x MH.
ControlBody ViewModeBody(std::uint8_t viewType, int screenIndex, std::uint16_t modeW,
                         std::uint16_t modeH, std::uint16_t regionW, std::uint16_t regionH,
                         std::uint16_t wallW, std::uint16_t wallH);

// One screen slot of the topology command.
struct ScreenEntry {
    std::uint8_t screenIndex = kScreenEmpty;
    std::uint8_t portBit = 0;
    std::uint8_t modeClass = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t bitsPerPixel = 0;
    std::uint8_t refresh = 0;
    std::uint8_t flags = 0;

    bool Empty() const { return screenIndex == kScreenEmpty; }
    bool operator==(const ScreenEntry&) const = default;
};

void WriteScreenEntry(bytes::MutBytes packet, std::size_t offset, const ScreenEntry& e);
ScreenEntry ReadScreenEntry(bytes::ConstBytes packet, std::size_t offset);

// 48 bytes, ControlWord 0x00200006, type 0x30, entries at 21 and 31.
Packet BuildTopology(const ScreenEntry& s0, const ScreenEntry& s1);
// 48 bytes, type 77, byte 21 = 0xFF, frame number at 22.
Packet BuildShowFrame(std::uint32_t frameNumber);
Packet BuildEdidQuery(std::uint8_t portBit);
Packet BuildVersionQuery(std::uint8_t subType);
Packet BuildCapsQuery();
// Read of `length` bytes at `address`: the bare header, or with `padded` the
// header followed by `length` zero bytes (the SromInfo read is sent that way).
Packet BuildSromRead(std::uint32_t address, std::uint32_t length, bool padded);
// Write of `data` at `address`: 48 + data bytes, length rule applied.
Packet BuildSromWrite(std::uint32_t address, bytes::ConstBytes data);
// The OUT pipe a packet of this data type is written to.
constexpr std::uint8_t OutPipeFor(std::uint8_t dataType) {
    return dataType == type::kOther53 || dataType == type::kOther57 || dataType == type::kOther58
               ? kPipeOutFrames
               : kPipeOutCommands;
}

// Remembers the last show-frame number written to one adapter. Claim is true
// (and records the number) when `frameNumber` differs from the last one, so
// the packet must be written; false when it would repeat it.
class ShowFrameFilter {
public:
    bool Claim(std::uint32_t frameNumber) { return last_.exchange(frameNumber) != frameNumber; }
    std::uint32_t Last() const { return last_.load(); }

private:
    std::atomic<std::uint32_t> last_{0};
};

// ---------------------------------------------------------------- reply checks

// Which check a reply failed, in the order they run.
enum class ReplyFault {
    kNone,
    kLink,      // the link result was not 0
    kLength,    // wrong reply length (topology), or too short for its fields
    kMagic,     // the first 12 bytes are not the magic
    kDataType,  // byte 16 (byte 20 for serial ROM) is not the request's type
    kSubType,   // version reply: byte 17 is not the sub-type asked for
    kStatus,    // bError / status byte not 0 (serial ROM: byte 30 not 1)
    kPort,      // EDID reply for another port
    kSize,      // EDID size not 128 or 256, or more than was received
    kChecksum,  // EDID bytes do not sum to 0 modulo 256
};
const char* ReplyFaultName(ReplyFault f);

// `reply` is what was received (its size is the received length).
[[nodiscard]] ReplyFault CheckTopologyReply(int linkResult, bytes::ConstBytes reply);
[[nodiscard]] ReplyFault CheckCapsReply(int linkResult, bytes::ConstBytes reply);
[[nodiscard]] ReplyFault CheckVersionReply(int linkResult, bytes::ConstBytes reply,
                                           std::uint8_t subType);
// Serial-ROM replies: bytes 20 and 30 (the magic is not looked at); a read's
// reply must also carry the `readLength` data bytes from byte 48, so that
// they are never taken from past what was received.
[[nodiscard]] ReplyFault CheckSromReply(int linkResult, bytes::ConstBytes reply,
                                        std::size_t readLength = 0);

struct EdidCheck {
    ReplyFault fault = ReplyFault::kNone;
    std::uint8_t bError = 0;
    std::uint32_t size = 0;
    bytes::ConstBytes edid;  // inside the reply, valid when fault is kNone
};
// Magic, type 0x60 and port (the "wrong kind" checks), then bError, size and
// byte sum (the "unusable EDID" checks).
[[nodiscard]] EdidCheck CheckEdidReply(int linkResult, bytes::ConstBytes reply,
                                       std::uint8_t portBit);

// The firmware version text of a checked sub-type 1 reply: from byte 19 up to
// the first NUL, or to the end of what was received.
std::string VersionText(bytes::ConstBytes reply);
std::uint32_t LayoutVersion(bytes::ConstBytes reply);

// ---------------------------------------------------------------- notifications

struct Notification {
    std::uint8_t kind = 0;    // byte 16: 0xE1, 0xE9 or anything else
    std::uint8_t status = 0;  // byte 17: PnP mask, or ack status
    std::uint32_t frameIndex = 0;

    bool IsMonitorPnp() const { return kind == kNotifyMonitorPnp; }
    // A frame acknowledgement the service acts on: not "ignore", index not 0.
    bool IsFrameAck() const {
        return kind == kNotifyFrameAck && status != kAckIgnore && frameIndex != 0;
    }
};
// Nothing when the packet does not start with the magic or is too short to
// carry the fields.
[[nodiscard]] std::optional<Notification> ParseNotification(bytes::ConstBytes packet);

// ---------------------------------------------------------------- adapter side
Packet BuildMonitorPnp(std::uint8_t statusMask);
Packet BuildFrameAck(std::uint32_t frameIndex);
// An acknowledgement marked "ignore" with index 0: harmless to the service,
// so it serves as the adapter's keep-alive.
Packet BuildKeepAlive();
// 48-byte answer to a command exchanged through SendControlCommand or to the
// topology command: byte 16 = type, byte 17 = status.
Packet BuildStatusReply(std::uint8_t dataType, std::uint8_t status);
// `edid` may be any size; the size field says `sizeField`.
Packet BuildEdidReply(std::uint8_t portBit, std::uint8_t bError, std::uint32_t sizeField,
                      bytes::ConstBytes edid);
Packet BuildVersionReply(std::string_view firmwareVersion);  // sub-type 1
Packet BuildLayoutReply(std::uint32_t layoutVersion);        // sub-type 4
Packet BuildCapsReply(bytes::ConstBytes caps);               // caps cut or padded to 157
// byte 20 = 7, byte 21 op, address, length, byte 30 status, data from 48.
Packet BuildSromReply(std::uint8_t op, std::uint32_t address, bool done, bytes::ConstBytes data);

}  // namespace orv::adapter
