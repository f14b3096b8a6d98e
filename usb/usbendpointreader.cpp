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
    if (m_transfer == nullptr) {
        context()->logError(" m_transfer == nullptr");
        context()->setErrorState(LIBUSB_ERROR_NO_MEM);
        return;
    }
    libusb_fill_bulk_transfer(m_transfer,
                              context()->m_deviceHandle,
                              static_cast<unsigned char>(address()),
                              m_buffer.data(),
                              static_cast<int>(m_buffer.size()),
                              callback,
                              this,
                              transferTimeoutMs);
    const int result = libusb_submit_transfer(m_transfer);
    if (result == 0) {
        setBusy(true);
        return;
    }
    releaseTransfer();
    context()->logError(" " + nameText() + " transfer error: " + std::to_string(result) + " "
                        + libusb_strerror(static_cast<libusb_error>(result)));
    setBusy(false);
    context()->setErrorState(result);
}

} // namespace Tavrix::Usb
