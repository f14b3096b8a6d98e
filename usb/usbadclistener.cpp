#include "usb/usbadclistener.h"

#include "usb/usbcontext.h"
#include "usb/usbreadtransfer.h"

#include <QIODevice>

namespace Tavrix::Usb {

template<unsigned int Address>
UsbAdcListener<Address>::UsbAdcListener(const QString& name,
                                        UsbContext* context,
                                        std::size_t bufferSize,
                                        unsigned int aggregationPeriodMs,
                                        unsigned int readsInFlight,
                                        QObject* parent)
    : UsbEndPointReader(Address, name, context, bufferSize, parent)
    , m_stream(&m_collected, QIODevice::WriteOnly)
    , m_aggregationPeriodMs(aggregationPeriodMs)
{
    for (unsigned int i = 1; i < readsInFlight; ++i)
        m_extraReads.push_back(std::make_unique<UsbEndPointReader>(Address, name, context, bufferSize));
    m_timer.start();
}

template<unsigned int Address>
QVector<UsbEndPoint*> UsbAdcListener<Address>::extraReads() const
{
    QVector<UsbEndPoint*> reads;
    for (const auto& read : m_extraReads)
        reads.append(read.get());
    return reads;
}

template<unsigned int Address>
UsbEndPointReader* UsbAdcListener<Address>::lane(std::size_t index)
{
    return index == 0 ? static_cast<UsbEndPointReader*>(this) : m_extraReads[index - 1].get();
}

template<unsigned int Address>
void UsbAdcListener<Address>::submit(UsbEndPointReader* read)
{
    if (read == this)
        transfer(&UsbReadTransfer<UsbAdcListener<Address>>::callback);
    else
        read->transfer(&UsbReadTransfer<UsbEndPointReader>::callback);
}

template<unsigned int Address>
void UsbAdcListener<Address>::submitRead()
{
    const std::size_t lanes = m_extraReads.size() + 1;
    for (std::size_t i = 0; i < lanes; ++i) {
        UsbEndPointReader* read = lane((m_next + i) % lanes);
        if (!read->isBusy())
            submit(read);
    }
}

template<unsigned int Address>
void UsbAdcListener<Address>::reset()
{
    m_receiving.store(false);
    m_emptyReads = 0;
    m_fullReads = 0;
    m_next = 0;
    m_collected.clear();
    m_stream.device()->seek(0);
}

template<unsigned int Address>
void UsbAdcListener<Address>::take(UsbEndPointReader* read)
{
    const int received = read->receivedCount();
    read->setReceivedCount(0);
    m_fullReads = received >= static_cast<int>(read->bufferSize()) ? m_fullReads + 1 : 0;
    if (received > 0) {
        m_receiving.store(true);
        m_emptyReads = 0;
        m_stream << QByteArray::fromRawData(reinterpret_cast<const char*>(read->buffer()), received);
        handOverWhenDue();
    } else if (m_receiving.load()) {
        // The stream paused or stopped: what was collected goes now, not
        // glued to the front of whatever comes next, maybe much later.
        handOverWhenDue();
        // Every read in flight times out once per time-out period when the
        // stream stops, so the limit grows with their number.
        if (++m_emptyReads >= emptyReadLimit * static_cast<int>(m_extraReads.size() + 1)) {
            m_receiving.store(false);
            m_emptyReads = 0;
        }
    }
}

template<unsigned int Address>
void UsbAdcListener<Address>::handOverWhenDue()
{
    const qint64 now = m_timer.elapsed();
    if (m_collected.isEmpty() || now - m_lastHandOverMs < static_cast<qint64>(m_aggregationPeriodMs))
        return;
    emit signalAnswer(std::vector<uint8_t>(m_collected.cbegin(), m_collected.cend()), 0);
    m_stream.device()->seek(0);
    m_collected.clear();
    m_lastHandOverMs = now;
}

template<unsigned int Address>
bool UsbAdcListener<Address>::exe()
{
    const std::size_t lanes = m_extraReads.size() + 1;
    bool took = false;
    // At most one round: a read whose resubmission failed stays idle and
    // must not be taken again in the same call.
    for (std::size_t i = 0; i < lanes; ++i) {
        UsbEndPointReader* read = lane(m_next);
        if (read->isBusy())
            break;
        take(read);
        submit(read);
        m_next = (m_next + 1) % lanes;
        took = true;
    }
    return took;
}

template class UsbAdcListener<131>;

} // namespace Tavrix::Usb
