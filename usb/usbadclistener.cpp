#include "usb/usbadclistener.h"

#include "usb/usbreadtransfer.h"

#include <QIODevice>

namespace Tavrix::Usb {

template<unsigned int Address>
UsbAdcListener<Address>::UsbAdcListener(const QString& name,
                                        UsbContext* context,
                                        std::size_t bufferSize,
                                        unsigned int aggregationPeriodMs,
                                        QObject* parent)
    : UsbEndPointReader(Address, name, context, bufferSize, parent)
    , m_stream(&m_collected, QIODevice::WriteOnly)
    , m_aggregationPeriodMs(aggregationPeriodMs)
{
    m_timer.start();
}

template<unsigned int Address>
void UsbAdcListener<Address>::submitRead()
{
    transfer(&UsbReadTransfer<UsbAdcListener<Address>>::callback);
}

template<unsigned int Address>
void UsbAdcListener<Address>::reset()
{
    m_receiving.store(false);
    m_emptyReads = 0;
    m_collected.clear();
    m_stream.device()->seek(0);
}

template<unsigned int Address>
bool UsbAdcListener<Address>::exe()
{
    if (isBusy())
        return false;

    const int received = receivedCount();
    if (received > 0) {
        m_receiving.store(true);
        m_emptyReads = 0;
        m_stream << QByteArray::fromRawData(reinterpret_cast<const char*>(buffer()), received);
        const qint64 now = m_timer.elapsed();
        if (now - m_lastHandOverMs >= static_cast<qint64>(m_aggregationPeriodMs)) {
            emit signalAnswer(std::vector<uint8_t>(m_collected.cbegin(), m_collected.cend()), 0);
            m_stream.device()->seek(0);
            m_collected.clear();
            m_lastHandOverMs = now;
        }
    } else if (m_receiving.load()) {
        if (++m_emptyReads >= emptyReadLimit) {
            m_receiving.store(false);
            m_emptyReads = 0;
        }
    }
    submitRead();
    return true;
}

template class UsbAdcListener<131>;

} // namespace Tavrix::Usb
