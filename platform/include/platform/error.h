// Error numbers of the platform layer.
//
// Results that the system carries across its interfaces keep the Windows
// numbers the components were designed around (a link returns 121 on a pipe
// time-out, for example). OS errors (errno) are translated into these inside
// platform/ and never leak above it. "Device gone" has its own number because
// hot-plug makes it routine.
#pragma once

#include <cstdint>

namespace orv::platform {

using ErrorCode = std::uint32_t;

inline constexpr ErrorCode kErrorSuccess = 0;                   // ERROR_SUCCESS
inline constexpr ErrorCode kErrorFileNotFound = 2;              // ERROR_FILE_NOT_FOUND
inline constexpr ErrorCode kErrorAccessDenied = 5;              // ERROR_ACCESS_DENIED
inline constexpr ErrorCode kErrorInvalidHandle = 6;             // ERROR_INVALID_HANDLE
inline constexpr ErrorCode kErrorNotEnoughMemory = 8;           // ERROR_NOT_ENOUGH_MEMORY
inline constexpr ErrorCode kErrorInvalidData = 13;              // ERROR_INVALID_DATA
inline constexpr ErrorCode kErrorGenFailure = 31;               // ERROR_GEN_FAILURE
inline constexpr ErrorCode kErrorNotSupported = 50;             // ERROR_NOT_SUPPORTED
inline constexpr ErrorCode kErrorInvalidParameter = 87;         // ERROR_INVALID_PARAMETER
inline constexpr ErrorCode kErrorSemTimeout = 121;              // ERROR_SEM_TIMEOUT
inline constexpr ErrorCode kErrorInsufficientBuffer = 122;      // ERROR_INSUFFICIENT_BUFFER
inline constexpr ErrorCode kErrorAlreadyExists = 183;           // ERROR_ALREADY_EXISTS
inline constexpr ErrorCode kErrorMoreData = 234;                // ERROR_MORE_DATA
inline constexpr ErrorCode kErrorNoMoreItems = 259;             // ERROR_NO_MORE_ITEMS
inline constexpr ErrorCode kErrorOperationAborted = 995;        // ERROR_OPERATION_ABORTED
inline constexpr ErrorCode kErrorIoPending = 997;               // ERROR_IO_PENDING
inline constexpr ErrorCode kErrorServiceAlreadyRunning = 1056;  // ERROR_SERVICE_ALREADY_RUNNING
inline constexpr ErrorCode kErrorServiceDoesNotExist = 1060;    // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr ErrorCode kErrorServiceNotActive = 1062;       // ERROR_SERVICE_NOT_ACTIVE
inline constexpr ErrorCode kErrorFailedServiceControllerConnect = 1063;
inline constexpr ErrorCode kErrorServiceExists = 1073;       // ERROR_SERVICE_EXISTS
inline constexpr ErrorCode kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr ErrorCode kErrorTimeout = 1460;             // ERROR_TIMEOUT

// Maps an errno value to the nearest number above.
ErrorCode FromErrno(int err);

}  // namespace orv::platform
