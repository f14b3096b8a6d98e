#pragma once

#include "usb/usbcontext.h"
#include "usb/usbendpoint.h"

#include <libusb.h>
#include <string>

namespace Tavrix::Usb {

// Completion of a write on the command endpoint, inside libusb's event
// handling on the USB thread. The transfer's user data is the endpoint: a
// write needs nothing of the writer beyond it.
inline void LIBUSB_CALL writeTransferCompleted(libusb_transfer* transfer)
{
    auto* writer = static_cast<UsbEndPoint*>(transfer->user_data);
    UsbContext* context = writer->context();
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        writer->setBusy(false);
        context->afterCompletion();
        return;
    }

    const int status = transfer->status;
    context->logError(writer->nameText() + " callback error : " + std::to_string(status) + " "
                      + libusb_error_name(status));
    if (status == LIBUSB_TRANSFER_STALL) {
        // In flight again: the writer stays busy so that its send buffer
        // and transfer are not reused underneath it.
        if (writer->resubmitAfterStall(transfer) == 0)
            return;
    } else if (status != LIBUSB_TRANSFER_CANCELLED) {
        context->setErrorState(status);
    }
    writer->setBusy(false);
}

} // namespace Tavrix::Usb
