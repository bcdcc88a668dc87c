// usb::Interface: one USB interface of one device, with the operations of the
// WinUSB API the adapter link was designed around.
//
// Open binds the object to a device path (the device file), Initialize claims
// the interface and reads its descriptors; then the caller picks an alternate
// setting, looks at its pipes, sets their transfer time-outs and moves data
// with synchronous bulk reads and writes. Free releases everything; an object
// that has been freed fails every later call.
//
// Every operation returns true on success. On failure it returns false and
// sets the calling thread's last error (LastError()) to a Windows error number
// of platform/error.h:
//   121  ERROR_SEM_TIMEOUT          a transfer did not complete within the
//                                   pipe's transfer time-out
//   1167 ERROR_DEVICE_NOT_CONNECTED the device is gone (connection closed,
//                                   unplugged); every later transfer fails so
//   995  ERROR_OPERATION_ABORTED    AbortPipe or Free ended a waiting transfer
//   87   ERROR_INVALID_PARAMETER    unknown setting or pipe, wrong direction
//   6    ERROR_INVALID_HANDLE       not open / not initialised / freed
//   2, 5 ...                        Open: the device path cannot be opened
//
// Threads: one thread opens, initialises, sets up and frees; after that,
// transfers on different pipes may run on different threads at the same time
// (one thread per pipe). Free may be called while other threads wait in a
// transfer: they return false with 995 (or 1167) and the object stays valid
// until it is destroyed. The destructor frees.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"

namespace orv::usb {

using platform::ErrorCode;

// The last error set by a failed operation on this thread (0 when none has
// failed yet). Backends set it with SetLastError.
ErrorCode LastError();
void SetLastError(ErrorCode code);

inline constexpr std::uint8_t kEndpointDirectionIn = 0x80;
inline bool IsInPipe(std::uint8_t pipeId) {
    return (pipeId & kEndpointDirectionIn) != 0;
}

// The interface descriptor fields the system uses.
struct InterfaceDescriptor {
    std::uint8_t bInterfaceNumber = 0;
    std::uint8_t bAlternateSetting = 0;
    std::uint8_t bNumEndpoints = 0;
};

enum class PipeType : std::uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

struct PipeInformation {
    PipeType pipeType = PipeType::kBulk;
    std::uint8_t pipeId = 0;  // the endpoint address
    std::uint16_t maximumPacketSize = 0;
};

// The descriptors of the device's interface as a backend reads them: each
// alternate setting with its endpoints, in descriptor order.
struct EndpointDescriptor {
    std::uint8_t address = 0;
    PipeType type = PipeType::kBulk;
    std::uint16_t maxPacketSize = 512;
};

struct SettingDescriptor {
    std::uint8_t alternateSetting = 0;
    std::vector<EndpointDescriptor> endpoints;
};

// Pipe policies. Only the transfer time-out is supported: milliseconds a
// transfer on the pipe may take, 0 meaning no limit (the initial value).
enum class PipePolicy : std::uint32_t { kPipeTransferTimeout = 0x03 };

class Interface {
public:
    virtual ~Interface() = default;

    // Opens the device file at `devicePath`. Fails when the path does not
    // lead to a device (2 not found, 1167 nobody answers, 5 denied) or when
    // this object is already open.
    [[nodiscard]] virtual bool Open(const std::string& devicePath) = 0;
    // Claims the interface of the opened device and reads its descriptors.
    // May block until the device has described itself (a few seconds at most).
    [[nodiscard]] virtual bool Initialize() = 0;

    // The setting at `alternateIndex` (0 = first), in descriptor order.
    [[nodiscard]] virtual bool QueryInterfaceSettings(std::uint8_t alternateIndex,
                                                      InterfaceDescriptor& descriptor) = 0;
    // Selects the setting whose bAlternateSetting is `alternateSetting`.
    [[nodiscard]] virtual bool SetCurrentAlternateSetting(std::uint8_t alternateSetting) = 0;
    // Endpoint `pipeIndex` of the setting whose bAlternateSetting is
    // `alternateSetting`.
    [[nodiscard]] virtual bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                                         PipeInformation& pipe) = 0;

    // Pipe operations: `pipeId` must be an endpoint of the current setting.
    [[nodiscard]] virtual bool ResetPipe(std::uint8_t pipeId) = 0;
    [[nodiscard]] virtual bool SetPipePolicy(std::uint8_t pipeId, PipePolicy policy,
                                             std::uint32_t value) = 0;
    // One bulk IN transfer into `buffer` (at most `bufferLength` bytes);
    // `transferred` gets the bytes received (0 on failure). Blocks up to the
    // pipe's transfer time-out.
    [[nodiscard]] virtual bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer,
                                        std::uint32_t bufferLength, std::uint32_t& transferred) = 0;
    // One bulk OUT transfer of `length` bytes; `transferred` gets the bytes
    // sent (0 on failure). Blocks up to the pipe's transfer time-out.
    [[nodiscard]] virtual bool WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer,
                                         std::uint32_t length, std::uint32_t& transferred) = 0;
    // Ends transfers waiting on the pipe (they fail with 995).
    [[nodiscard]] virtual bool AbortPipe(std::uint8_t pipeId) = 0;
    // Discards data the device has sent on the pipe that no read took yet.
    [[nodiscard]] virtual bool FlushPipe(std::uint8_t pipeId) = 0;

    // Releases the interface and the device file. Idempotent; never fails.
    virtual void Free() = 0;
};

// Device paths of real hardware begin with this prefix ("libusb:<bus>-<port
// path>", e.g. "libusb:1-4.2"); every other path is a socket of the simulated
// bus.
inline constexpr char kLibUsbPathPrefix[] = "libusb:";

// A backend for `devicePath`: LibUsb for real hardware, SimUsb otherwise.
std::unique_ptr<Interface> CreateInterfaceFor(const std::string& devicePath);

}  // namespace orv::usb
