#include "usb/usbendpointreader.h"

#include "usb/usbcontext.h"

#include <libusb.h>

namespace Tavrix::Usb {

UsbEndPointReader::UsbEndPointReader(unsigned int address,
                                     const QString& name,
                                     UsbContext* context,
                                     std::size_t bufferSize,
                                     QObject* parent)
    : UsbEndPoint(address, name, context, parent)
    , m_buffer(bufferSize, 0)
{
}

void UsbEndPointReader::transfer(Callback callback)
{
    m_receivedCount = 0;
    if (!canSubmit())
        return;

    // A completed read keeps its transfer until the next one is prepared.
    releaseTransfer();
    m_transfer = libusb_alloc_transfer(0);
    // A refused read keeps no transfer.
    if (!submitBulk(m_buffer.data(), static_cast<int>(m_buffer.size()), callback, this))
        releaseTransfer();
}

} // namespace Tavrix::Usb
