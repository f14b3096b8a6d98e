#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace Tavrix::Net::WebApi {

// The rest of an answer that did not fit into the connection's send buffer
// at once: written as the peer takes it, without blocking the event loop,
// then the descriptor is closed (the peer reads the body until the close).
// A peer that leaves ends it early. Owns the descriptor; `finished` runs once,
// when it is closed, whatever closes it (the end, an error, destruction).
class DescriptorAnswer : public QObject
{
    Q_OBJECT

public:
    // Writes what it can of `bytes` from `offset` on at once; deletes itself
    // once the descriptor is closed. A peer that takes none of the rest for
    // `stallMs` is cut off (logged), so that it cannot hold the connection,
    // its place under the bounds and the bytes for ever.
    static void start(int descriptor, const QByteArray& bytes, qint64 offset, std::function<void()> finished,
                      QObject* parent, int stallMs);
    ~DescriptorAnswer() override;

    // Writes what the descriptor takes now without waiting: true when the
    // descriptor is done with (everything written, or the peer is gone).
    static bool writeSome(int descriptor, const QByteArray& bytes, qint64& offset);
    // Makes the next close of `descriptor` reset the connection instead of
    // leaving unsent bytes to the kernel, for a peer that does not read.
    static void abortive(int descriptor);

private:
    DescriptorAnswer(int descriptor, const QByteArray& bytes, qint64 offset, std::function<void()> finished,
                     QObject* parent, int stallMs);
    void onWritable();
    void onStalled();
    void finish();

    int m_descriptor;
    QByteArray m_bytes;
    qint64 m_offset;
    std::function<void()> m_finished;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_stall = nullptr;
    int m_stallMs;
};

} // namespace Tavrix::Net::WebApi
