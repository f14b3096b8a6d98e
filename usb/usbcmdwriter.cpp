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
    submitBulk(m_sendBuffer.data(), static_cast<int>(m_sendBuffer.size()),
               &writeTransferCompleted, static_cast<UsbEndPoint*>(this));
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
