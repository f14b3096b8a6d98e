#pragma once

#include "usb/usbcontext.h"
#include "usb/usbendpoint.h"

#include <libusb.h>
#include <string>

namespace Tavrix::Usb {

// Completion of a write on the command endpoint, inside libusb's event
// handling on the USB thread.
template<typename Writer>
class UsbWriteTransfer
{
public:
    static void LIBUSB_CALL callback(libusb_transfer* transfer)
    {
        auto* endpoint = static_cast<UsbEndPoint*>(transfer->user_data);
        auto* writer = static_cast<Writer*>(endpoint);
        UsbContext* context = writer->context();

        if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
            writer->setBusy(false);
            context->afterCompletion();
            return;
        }

        const int status = transfer->status;
        const std::string name = writer->nameText();
        context->logError(name + " callback error : " + std::to_string(status) + " " + libusb_error_name(status));

        if (status == LIBUSB_TRANSFER_STALL) {
            context->logInfo("clear halt " + name);
            const int cleared = libusb_clear_halt(context->m_deviceHandle,
                                                  static_cast<unsigned char>(writer->address()));
            if (cleared != 0) {
                context->logError(name + " libusb_clear_halt error : " + std::to_string(cleared) + " "
                                  + libusb_strerror(static_cast<libusb_error>(cleared)));
            } else {
                const int submitted = libusb_submit_transfer(transfer);
                if (submitted == 0) {
                    // The frame is in flight again: the writer stays busy so that
                    // its send buffer and transfer are not reused underneath it.
                    return;
                }
                context->logError(name + " re-submitting transfer error : " + std::to_string(submitted) + " "
                                  + libusb_strerror(static_cast<libusb_error>(submitted)));
            }
        } else if (status != LIBUSB_TRANSFER_CANCELLED) {
            context->setErrorState(status);
        }
        writer->setBusy(false);
    }
};

} // namespace Tavrix::Usb
