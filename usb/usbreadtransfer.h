#pragma once

#include "usb/usbcontext.h"
#include "usb/usbendpointreader.h"

#include <libusb.h>
#include <string>

namespace Tavrix::Usb {

// Completion of a read on any IN endpoint. Runs inside libusb's event
// handling on the USB thread. A time-out is the normal "no data" outcome; a
// stall is cleared and the same transfer submitted again once; anything else
// breaks the link.
//
// A read that timed out or was cancelled may still carry bytes: when the
// recorder's data arrives while libusb is cancelling the read, libusb keeps
// it and reports the time-out with actual_length > 0. Those bytes are the
// recorder's answer, signal or read-out data and are delivered like those of
// a completed read.
template<typename Listener>
class UsbReadTransfer
{
public:
    static void LIBUSB_CALL callback(libusb_transfer* transfer)
    {
        auto* reader = static_cast<UsbEndPointReader*>(transfer->user_data);
        auto* listener = static_cast<Listener*>(reader);
        UsbContext* context = listener->context();

        switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
        case LIBUSB_TRANSFER_TIMED_OUT:
        case LIBUSB_TRANSFER_CANCELLED:
            listener->setReceivedCount(transfer->actual_length > 0 ? transfer->actual_length : 0);
            listener->setBusy(false);
            context->afterCompletion();
            return;
        default:
            break;
        }

        const int status = transfer->status;
        const std::string name = listener->nameText();
        const std::string message = name + " callback error: " + std::to_string(status) + " "
                                    + libusb_error_name(status);
        context->logError(message);

        if (status == LIBUSB_TRANSFER_STALL) {
            listener->setReceivedCount(0);
            listener->setBusy(false);
            const int failed = listener->resubmitAfterStall(transfer);
            if (failed == 0) {
                listener->setBusy(true);
                return;
            }
            listener->releaseTransfer();
            context->setErrorState(failed);
            return;
        }

        // Error, no device, overflow.
        listener->setReceivedCount(0);
        listener->releaseTransfer();
        context->logError(message);
        context->setErrorState(status);
        listener->setBusy(false);
    }
};

} // namespace Tavrix::Usb
