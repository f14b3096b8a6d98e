#include "usb/usbcmdwriter.h"

#include "usb/usbcontext.h"
#include "usb/usbwritetransfer.h"

#include <libusb.h>

namespace Tavrix::Usb {

template<unsigned int Address>
UsbCmdWriter<Address>::UsbCmdWriter(const QString& name, UsbContext* context, QObject* parent)
    : UsbEndPoint(Address, name, context, parent)
{
}

template<unsigned int Address>
void UsbCmdWriter<Address>::transfer()
{
    if (!canSubmit())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_sendBuffer = std::move(m_pendingBytes);
        m_pendingBytes.clear();
    }
    if (m_sendBuffer.empty())
        return;
    if (m_transfer == nullptr) {
        context()->logError(" m_transfer == nullptr");
        context()->setErrorState(LIBUSB_ERROR_NO_MEM);
        return;
    }
    libusb_fill_bulk_transfer(m_transfer,
                              context()->m_deviceHandle,
                              static_cast<unsigned char>(Address),
                              m_sendBuffer.data(),
                              static_cast<int>(m_sendBuffer.size()),
                              &UsbWriteTransfer<UsbCmdWriter<Address>>::callback,
                              static_cast<UsbEndPoint*>(this),
                              transferTimeoutMs);
    const int result = libusb_submit_transfer(m_transfer);
    if (result == 0) {
        setBusy(true);
        return;
    }
    context()->logError(" " + nameText() + " transfer error: " + std::to_string(result) + " "
                        + libusb_strerror(static_cast<libusb_error>(result)));
    setBusy(false);
    context()->setErrorState(result);
}

template<unsigned int Address>
void UsbCmdWriter<Address>::setPendingBytes(std::vector<uint8_t>&& bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_pendingBytes = std::move(bytes);
    }
    context()->wakeEventHandler();
}

template<unsigned int Address>
bool UsbCmdWriter<Address>::hasPendingBytes()
{
    std::lock_guard lock(m_mutex);
    return !m_pendingBytes.empty();
}

template<unsigned int Address>
void UsbCmdWriter<Address>::dropPendingBytes()
{
    std::lock_guard lock(m_mutex);
    m_pendingBytes.clear();
}

template<unsigned int Address>
std::vector<uint8_t> UsbCmdWriter<Address>::pendingBytes()
{
    std::lock_guard lock(m_mutex);
    return m_pendingBytes;
}

template class UsbCmdWriter<4>;

} // namespace Tavrix::Usb
