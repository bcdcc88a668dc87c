#include "platform/usb/libusb_usb.h"

#include <libusb.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/diag.h"
#include "platform/paths.h"
#include "platform/usb/setting_table.h"

namespace orv::usb {
namespace {

ErrorCode FromLibUsb(int rc) {
    switch (rc) {
        case LIBUSB_ERROR_TIMEOUT:
            return platform::kErrorSemTimeout;
        case LIBUSB_ERROR_NO_DEVICE:
            return platform::kErrorDeviceNotConnected;
        case LIBUSB_ERROR_NOT_FOUND:
            return platform::kErrorFileNotFound;
        case LIBUSB_ERROR_ACCESS:
        case LIBUSB_ERROR_BUSY:
            return platform::kErrorAccessDenied;
        case LIBUSB_ERROR_INVALID_PARAM:
            return platform::kErrorInvalidParameter;
        case LIBUSB_ERROR_NO_MEM:
            return platform::kErrorNotEnoughMemory;
        case LIBUSB_ERROR_OVERFLOW:
            return platform::kErrorMoreData;
        case LIBUSB_ERROR_INTERRUPTED:
            return platform::kErrorOperationAborted;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return platform::kErrorNotSupported;
        default:
            return platform::kErrorGenFailure;
    }
}

ErrorCode FromTransferStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_TIMED_OUT:
            return platform::kErrorSemTimeout;
        case LIBUSB_TRANSFER_CANCELLED:
            return platform::kErrorOperationAborted;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return platform::kErrorDeviceNotConnected;
        case LIBUSB_TRANSFER_OVERFLOW:
            return platform::kErrorMoreData;
        default:  // a stall, an error on the bus
            return platform::kErrorGenFailure;
    }
}

bool Fail(int rc) {
    SetLastError(FromLibUsb(rc));
    return false;
}

class LibUsb final : public Interface {
public:
    ~LibUsb() override { Free(); }

    bool Open(const std::string& devicePath) override {
        if (context_ != nullptr) {
            SetLastError(platform::kErrorAlreadyExists);
            return false;
        }
        if (!std::string_view(devicePath).starts_with(kLibUsbPathPrefix)) {
            SetLastError(platform::kErrorFileNotFound);
            return false;
        }
        if (int rc = libusb_init(&context_); rc != 0) {
            context_ = nullptr;
            return Fail(rc);
        }
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context_, &list);
        if (count < 0) return Fail(static_cast<int>(count));
        int rc = LIBUSB_ERROR_NOT_FOUND;
        for (ssize_t i = 0; i < count && handle_ == nullptr; ++i)
            if (LibUsbDevicePath(list[i]) == devicePath) rc = libusb_open(list[i], &handle_);
        libusb_free_device_list(list, 1);
        if (rc == LIBUSB_ERROR_ACCESS)
            platform::Diagnostic(
                "usb: %s: permission denied; the service's user needs access to the adapter's "
                "device node: install %s (zentrelle -install) and replug the adapter\n",
                devicePath.c_str(), platform::UdevRulePath().c_str());
        return handle_ != nullptr || Fail(rc);
    }

    bool Initialize() override {
        if (handle_ == nullptr || claimed_) {
            SetLastError(platform::kErrorInvalidHandle);
            return false;
        }
        libusb_set_auto_detach_kernel_driver(handle_, 1);
        std::vector<UsbInterfaceDescriptors> interfaces;
        if (int rc = LibUsbInterfaces(libusb_get_device(handle_), interfaces); rc != 0)
            return Fail(rc);
        const std::optional<std::uint8_t> number = FindAdapterInterface(interfaces);
        if (!number) {
            platform::Diagnostic("usb: %s has no adapter interface\n",
                                 LibUsbDevicePath(libusb_get_device(handle_)).c_str());
            SetLastError(platform::kErrorNotSupported);
            return false;
        }
        if (int rc = libusb_claim_interface(handle_, *number); rc != 0) return Fail(rc);
        interface_ = *number;
        claimed_ = true;
        for (UsbInterfaceDescriptors& iface : interfaces)
            if (iface.interfaceNumber == interface_) settings_.Assign(std::move(iface.settings));
        return true;
    }

    bool QueryInterfaceSettings(std::uint8_t alternateIndex,
                                InterfaceDescriptor& descriptor) override {
        return Claimed() && settings_.QueryInterfaceSettings(alternateIndex, descriptor);
    }

    bool SetCurrentAlternateSetting(std::uint8_t alternateSetting) override {
        if (!Claimed()) return false;
        if (int rc = libusb_set_interface_alt_setting(handle_, interface_, alternateSetting);
            rc != 0)
            return Fail(rc);
        return settings_.Select(alternateSetting);
    }

    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   PipeInformation& pipe) override {
        return Claimed() && settings_.QueryPipe(alternateSetting, pipeIndex, pipe);
    }

    bool ResetPipe(std::uint8_t pipeId) override {
        if (!Claimed() || !settings_.CheckPipe(pipeId)) return false;
        const int rc = libusb_clear_halt(handle_, pipeId);
        return rc == 0 || Fail(rc);
    }

    bool SetPipePolicy(std::uint8_t pipeId, PipePolicy policy, std::uint32_t value) override {
        return Claimed() && settings_.SetPolicy(pipeId, policy, value);
    }

    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                  std::uint32_t& transferred) override {
        return Bulk(pipeId, buffer, bufferLength, transferred, true);
    }

    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer, std::uint32_t length,
                   std::uint32_t& transferred) override {
        // libusb does not write through the buffer of an OUT transfer.
        return Bulk(pipeId, const_cast<std::uint8_t*>(buffer), length, transferred, false);
    }

    bool AbortPipe(std::uint8_t pipeId) override {
        if (!Claimed() || !settings_.CheckPipe(pipeId)) return false;
        MutexLock lock(transfersMutex_);
        CancelTransfers(pipeId);
        return true;
    }

    bool FlushPipe(std::uint8_t pipeId) override {
        return Claimed() && settings_.CheckPipe(pipeId);
    }

    void Free() override {
        {
            // Transfers under way end (995) before the handle goes.
            MutexLock lock(transfersMutex_);
            freeing_ = true;
            CancelTransfers(0);
            while (!inFlight_.empty()) transfersDone_.Wait(transfersMutex_);
        }
        if (claimed_) libusb_release_interface(handle_, interface_);
        claimed_ = false;
        if (handle_ != nullptr) libusb_close(handle_);
        handle_ = nullptr;
        if (context_ != nullptr) libusb_exit(context_);
        context_ = nullptr;
        freed_ = true;
    }

private:
    bool Claimed() const {
        if (!claimed_ || freed_) SetLastError(platform::kErrorInvalidHandle);
        return claimed_ && !freed_;
    }

    // One asynchronous transfer, waited for on this thread: AbortPipe and
    // Free can cancel it from another thread.
    bool Bulk(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
              std::uint32_t& transferred, bool in) {
        transferred = 0;
        if (!Claimed() || !settings_.CheckPipe(pipeId)) return false;
        if (IsInPipe(pipeId) != in || length > 0x7FFFFFFFu) {
            SetLastError(platform::kErrorInvalidParameter);
            return false;
        }
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        if (transfer == nullptr) return Fail(LIBUSB_ERROR_NO_MEM);
        int completed = 0;
        libusb_fill_bulk_transfer(transfer, handle_, pipeId, buffer, static_cast<int>(length),
                                  &LibUsb::OnTransferDone, &completed, settings_.TimeoutMs(pipeId));
        {
            MutexLock lock(transfersMutex_);
            if (freeing_) {
                libusb_free_transfer(transfer);
                SetLastError(platform::kErrorOperationAborted);
                return false;
            }
            if (const int rc = libusb_submit_transfer(transfer); rc != 0) {
                libusb_free_transfer(transfer);
                return Fail(rc);
            }
            inFlight_.push_back(transfer);
        }
        while (completed == 0)
            if (const int rc = libusb_handle_events_completed(context_, &completed);
                rc != 0 && rc != LIBUSB_ERROR_INTERRUPTED)
                break;
        const libusb_transfer_status status = transfer->status;
        const int done = transfer->actual_length;
        {
            MutexLock lock(transfersMutex_);
            inFlight_.erase(std::find(inFlight_.begin(), inFlight_.end(), transfer));
            if (completed != 0) libusb_free_transfer(transfer);
        }
        transfersDone_.NotifyAll();
        if (completed == 0) {
            // Event handling failed: the transfer is leaked rather than freed
            // while libusb may still complete it.
            SetLastError(platform::kErrorGenFailure);
            return false;
        }
        if (status != LIBUSB_TRANSFER_COMPLETED) {
            SetLastError(FromTransferStatus(status));
            return false;
        }
        transferred = static_cast<std::uint32_t>(done);
        return true;
    }

    static void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
        *static_cast<int*>(transfer->user_data) = 1;
    }

    // Cancels the transfers on `pipeId` (every pipe when 0).
    void CancelTransfers(std::uint8_t pipeId) REQUIRES(transfersMutex_) {
        for (libusb_transfer* t : inFlight_)
            if (pipeId == 0 || t->endpoint == pipeId) libusb_cancel_transfer(t);
    }

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    std::uint8_t interface_ = 0;  // the adapter interface, claimed by Initialize
    bool claimed_ = false;
    bool freed_ = false;
    SettingTable settings_;
    Mutex transfersMutex_;
    CondVar transfersDone_;  // a transfer left inFlight_
    std::vector<libusb_transfer*> inFlight_ GUARDED_BY(transfersMutex_);
    bool freeing_ GUARDED_BY(transfersMutex_) = false;
};

}  // namespace

std::unique_ptr<Interface> CreateLibUsb() {
    return std::make_unique<LibUsb>();
}

int LibUsbInterfaces(libusb_device* device, std::vector<UsbInterfaceDescriptors>& interfaces) {
    interfaces.clear();
    libusb_config_descriptor* config = nullptr;
    if (int rc = libusb_get_active_config_descriptor(device, &config); rc != 0) return rc;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& iface = config->interface[i];
        if (iface.num_altsetting <= 0) continue;
        UsbInterfaceDescriptors d;
        d.interfaceNumber = iface.altsetting[0].bInterfaceNumber;
        for (int a = 0; a < iface.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = iface.altsetting[a];
            SettingDescriptor s{alt.bAlternateSetting, {}};
            for (int e = 0; e < alt.bNumEndpoints; ++e)
                s.endpoints.push_back({alt.endpoint[e].bEndpointAddress,
                                       static_cast<PipeType>(alt.endpoint[e].bmAttributes & 0x03),
                                       alt.endpoint[e].wMaxPacketSize});
            d.settings.push_back(std::move(s));
        }
        interfaces.push_back(std::move(d));
    }
    libusb_free_config_descriptor(config);
    return 0;
}

std::string LibUsbDevicePath(libusb_device* device) {
    std::uint8_t ports[7];
    const int depth = libusb_get_port_numbers(device, ports, 7);
    std::string path = kLibUsbPathPrefix + std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < depth; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

}  // namespace orv::usb
