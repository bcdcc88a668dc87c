#include <cerrno>

#include "platform/error.h"

namespace orv::platform {

ErrorCode FromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EINVAL:
            return kErrorInvalidParameter;
        case ETIMEDOUT:
        case EAGAIN:
            return kErrorSemTimeout;
        case EEXIST:
            return kErrorAlreadyExists;
        case ECONNRESET:
        case ECONNREFUSED:
        case EPIPE:
        case ENODEV:
        case ENOTCONN:
            return kErrorDeviceNotConnected;
        case ECANCELED:
            return kErrorOperationAborted;
        case ENOTSUP:
            return kErrorNotSupported;
        default:
            return kErrorGenFailure;
    }
}

}  // namespace orv::platform
