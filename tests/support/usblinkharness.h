#pragma once

// Drives the USB endpoint classes without a device: a context whose
// submissions are refused before reaching libusb, answer frames, and reads
// completed through the real transfer callback.

#include "common/simplelogger.h"
#include "common/threadlogging.h"
#include "usb/usbcontext.h"
#include "usb/usbendpointreader.h"
#include "usb/usbreadtransfer.h"

#include <QTemporaryDir>
#include <cstring>
#include <libusb.h>
#include <vector>

namespace TestSupport {

using Bytes = std::vector<uint8_t>;

// A frame with `code` and `data` and the 0xFF 0xFF checksum field.
inline Bytes frame(uint8_t code, const Bytes& data)
{
    Bytes out{0x7E, static_cast<uint8_t>(data.size() & 0xFF), static_cast<uint8_t>(data.size() >> 8), code};
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), {0xFF, 0xFF, 0xBD});
    return out;
}

struct LinkLogs
{
    QTemporaryDir dir;
    Tavrix::Common::ThreadLogging threadLog;
    Tavrix::Common::SimpleLogger errorLog{(dir.path() + "/ErrorLog.txt").toStdString(), 4194304, 1048576};
    // No device is open, so every submission is refused before reaching libusb.
    Tavrix::Usb::UsbContext context{&threadLog, &errorLog};
};

// Places the bytes in the listener's buffer and runs its completion callback
// the way libusb's event handling does when a bulk read finishes.
template<typename Listener>
void completeRead(Listener& listener, const Bytes& bytes, libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED)
{
    if (!bytes.empty())
        std::memcpy(listener.buffer(), bytes.data(), bytes.size());
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    transfer->status = status;
    transfer->actual_length = static_cast<int>(bytes.size());
    transfer->user_data = static_cast<Tavrix::Usb::UsbEndPointReader*>(&listener);
    listener.setBusy(true);
    Tavrix::Usb::UsbReadTransfer<Listener>::callback(transfer);
    libusb_free_transfer(transfer);
}

} // namespace TestSupport
