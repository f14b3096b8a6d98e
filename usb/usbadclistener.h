#pragma once

#include "usb/usbendpointreader.h"

#include <QByteArray>
#include <QDataStream>
#include <QElapsedTimer>
#include <atomic>

namespace Tavrix::Usb {

// The signal IN endpoint. Reads are collected as length-prefixed blocks
// (QDataStream byte arrays: 32-bit big-endian length, then the bytes) and
// handed to the main thread at most once per aggregation period, so a fast
// stream does not flood the main event loop.
template<unsigned int Address>
class UsbAdcListener : public UsbEndPointReader
{
public:
    // Consecutive empty reads after which the stream counts as stopped.
    static constexpr int emptyReadLimit = 10;

    UsbAdcListener(const QString& name,
                   UsbContext* context,
                   std::size_t bufferSize,
                   unsigned int aggregationPeriodMs,
                   QObject* parent = nullptr);

    bool exe();
    void submitRead();
    // Forgets collected data and the receiving state (after a reopen).
    void reset();

    // True while signal data arrives; read from the main thread.
    bool isReceiving() const { return m_receiving.load(); }

private:
    QByteArray m_collected;
    QDataStream m_stream;
    QElapsedTimer m_timer;
    qint64 m_lastHandOverMs = 0;
    unsigned int m_aggregationPeriodMs;
    std::atomic<bool> m_receiving{false};
    int m_emptyReads = 0;
};

extern template class UsbAdcListener<131>;

} // namespace Tavrix::Usb
