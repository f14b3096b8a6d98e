#pragma once

#include "usb/usbendpointreader.h"

#include <QByteArray>
#include <QDataStream>
#include <QElapsedTimer>
#include <QVector>
#include <atomic>
#include <memory>
#include <vector>

namespace Tavrix::Usb {

// The signal IN endpoint. Reads are collected as length-prefixed blocks
// (QDataStream byte arrays: 32-bit big-endian length, then the bytes) and
// handed to the main thread at most once per aggregation period, so a fast
// stream does not flood the main event loop. When the stream pauses, the
// first empty read after the period hands over what is left, so the last
// frames before a pause arrive then and not with the next data.
//
// With more than one read in flight the endpoint always has a read waiting
// while the USB thread handles a completion, a command or anything else, so
// the recorder's buffer is emptied at the rate the bus allows rather than at
// the rate the thread comes back to resubmit. The extra reads are endpoints of
// their own (the dispatcher cancels and frees them like any other); reads on
// one endpoint complete in the order they were submitted, and they are taken
// in that order.
template<unsigned int Address>
class UsbAdcListener : public UsbEndPointReader
{
public:
    // Consecutive empty reads, per read in flight, after which the stream
    // counts as stopped.
    static constexpr int emptyReadLimit = 10;

    UsbAdcListener(const QString& name,
                   UsbContext* context,
                   std::size_t bufferSize,
                   unsigned int aggregationPeriodMs,
                   unsigned int readsInFlight = 1,
                   QObject* parent = nullptr);

    // Takes every completed read that is next in order and submits it again;
    // false when the oldest read is still in flight.
    bool exe();
    // Submits every read that is not in flight, oldest first.
    void submitRead();
    // Forgets collected data and the receiving state (after a reopen).
    void reset();
    // True while signal data arrives; read from the main thread.
    bool isReceiving() const { return m_receiving.load(); }
    // True once every read of two rounds in a row came back full: the
    // recorder holds more than the reads carry and its buffer is filling.
    // A read that comes back short (or empty) ends it.
    bool isBehind() const { return m_fullReads >= 2 * (m_extraReads.size() + 1); }
    // The reads beyond this endpoint's own, for the dispatcher's list.
    QVector<UsbEndPoint*> extraReads() const;

private:
    UsbEndPointReader* lane(std::size_t index);
    void take(UsbEndPointReader* read);
    // Hands the collected blocks over when there are any and the period since
    // the last hand-over has passed.
    void handOverWhenDue();
    void submit(UsbEndPointReader* read);

    std::vector<std::unique_ptr<UsbEndPointReader>> m_extraReads;
    std::size_t m_next = 0;
    QByteArray m_collected;
    QDataStream m_stream;
    QElapsedTimer m_timer;
    qint64 m_lastHandOverMs = 0;
    unsigned int m_aggregationPeriodMs;
    std::atomic<bool> m_receiving{false};
    int m_emptyReads = 0;
    std::size_t m_fullReads = 0;
};

extern template class UsbAdcListener<131>;

} // namespace Tavrix::Usb
