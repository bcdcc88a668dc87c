// COvwCommBase: the link interface of the service.
//
// Five operations in slot order: Connect, Disconnect, Read, Write, Transact.
// Implemented by the USB link to an adapter (COvwCommUSB), and in their own
// ways by the control-channel server and the driver channel. Like the links it
// abstracts, the interface has no virtual destructor: whoever deletes a link
// deletes it through its concrete type.
//
// Results (USB link): 0 success, 3 not connected (nothing attempted), -1 link
// broken, or a Windows error number from a failed Transact.
#pragma once

#include <cstdint>
#include <string>

namespace orv::link {

inline constexpr int kLinkOk = 0;
inline constexpr int kLinkNotConnected = 3;
inline constexpr int kLinkBroken = -1;

class COvwCommBase {
public:
    [[nodiscard]] virtual int Connect(const std::string& devicePath) = 0;
    virtual int Disconnect() = 0;
    // `length`: in, the buffer size; out, the bytes received.
    [[nodiscard]] virtual int Read(std::uint8_t pipe, std::uint8_t* buffer,
                                   std::uint32_t& length) = 0;
    // `length`: in, the bytes to send; out, the bytes sent.
    [[nodiscard]] virtual int Write(std::uint8_t pipe, std::uint8_t* buffer,
                                    std::uint32_t& length) = 0;
    // Write the request, then read the reply, as one exchange. Request and
    // reply may be the same buffer.
    [[nodiscard]] virtual int Transact(std::uint8_t outPipe, std::uint8_t* request,
                                       std::uint32_t& requestLength, std::uint8_t inPipe,
                                       std::uint8_t* reply, std::uint32_t& replyLength) = 0;

protected:
    ~COvwCommBase() = default;
};

}  // namespace orv::link
