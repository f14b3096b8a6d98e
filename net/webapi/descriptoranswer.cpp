#include "net/webapi/descriptoranswer.h"

#include "common/jterminal.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Tavrix::Net::WebApi {

bool DescriptorAnswer::writeSome(int descriptor, const QByteArray& bytes, qint64& offset)
{
    while (offset < bytes.size()) {
        // MSG_NOSIGNAL: a peer that left must not end the service with SIGPIPE.
        // MSG_MORE: the close follows the last byte at once, so the end of
        // the answer and the FIN leave together in one segment instead of
        // two (the kernel still sends at once whatever fills the buffer).
        const ssize_t n = ::send(descriptor, bytes.constData() + offset, size_t(bytes.size() - offset),
                                 MSG_NOSIGNAL | MSG_DONTWAIT | MSG_MORE);
        if (n > 0) {
            offset += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        return true; // the peer is gone: nothing more can reach it
    }
    return true;
}

void DescriptorAnswer::abortive(int descriptor)
{
    if (descriptor < 0)
        return;
    const linger reset{1, 0};
    ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void DescriptorAnswer::start(int descriptor, const QByteArray& bytes, qint64 offset, std::function<void()> finished,
                             QObject* parent, int stallMs)
{
    if (writeSome(descriptor, bytes, offset)) {
        ::close(descriptor);
        if (finished)
            finished();
        return;
    }
    new DescriptorAnswer(descriptor, bytes, offset, std::move(finished), parent, stallMs);
}

DescriptorAnswer::DescriptorAnswer(int descriptor, const QByteArray& bytes, qint64 offset,
                                   std::function<void()> finished, QObject* parent, int stallMs)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_bytes(bytes)
    , m_offset(offset)
    , m_finished(std::move(finished))
    , m_stallMs(stallMs)
{
    // Writes are MSG_DONTWAIT already; the flag keeps any other call on the
    // descriptor from blocking too.
    const int flags = ::fcntl(m_descriptor, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_descriptor, F_SETFL, flags | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DescriptorAnswer::onWritable);
    m_stall = new QTimer(this);
    m_stall->setSingleShot(true);
    connect(m_stall, &QTimer::timeout, this, &DescriptorAnswer::onStalled);
    m_stall->start(m_stallMs);
}

DescriptorAnswer::~DescriptorAnswer()
{
    finish();
}

void DescriptorAnswer::onWritable()
{
    const qint64 before = m_offset;
    if (!writeSome(m_descriptor, m_bytes, m_offset)) {
        if (m_offset != before)
            m_stall->start(m_stallMs);
        return;
    }
    finish();
    deleteLater();
}

void DescriptorAnswer::onStalled()
{
    if (m_descriptor < 0)
        return;
    Common::JTerminal('3') << "answer not taken by the client for" << m_stallMs << "ms: connection closed";
    abortive(m_descriptor);
    finish();
    deleteLater();
}

void DescriptorAnswer::finish()
{
    if (m_descriptor < 0)
        return;
    // The notifier must let go of the descriptor before it is closed.
    m_notifier->setEnabled(false);
    m_stall->stop();
    ::close(m_descriptor);
    m_descriptor = -1;
    m_bytes.clear();
    if (m_finished) {
        auto finished = std::move(m_finished);
        m_finished = nullptr;
        finished();
    }
}

} // namespace Tavrix::Net::WebApi
