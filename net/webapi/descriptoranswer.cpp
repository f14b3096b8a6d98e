#include "net/webapi/descriptoranswer.h"

#include <QSocketNotifier>

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

void DescriptorAnswer::start(int descriptor, const QByteArray& bytes, qint64 offset, std::function<void()> finished,
                             QObject* parent)
{
    if (writeSome(descriptor, bytes, offset)) {
        ::close(descriptor);
        if (finished)
            finished();
        return;
    }
    new DescriptorAnswer(descriptor, bytes, offset, std::move(finished), parent);
}

DescriptorAnswer::DescriptorAnswer(int descriptor, const QByteArray& bytes, qint64 offset,
                                   std::function<void()> finished, QObject* parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_bytes(bytes)
    , m_offset(offset)
    , m_finished(std::move(finished))
{
    // Writes are MSG_DONTWAIT already; the flag keeps any other call on the
    // descriptor from blocking too.
    const int flags = ::fcntl(m_descriptor, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_descriptor, F_SETFL, flags | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DescriptorAnswer::onWritable);
}

DescriptorAnswer::~DescriptorAnswer()
{
    finish();
}

void DescriptorAnswer::onWritable()
{
    if (!writeSome(m_descriptor, m_bytes, m_offset))
        return;
    finish();
    deleteLater();
}

void DescriptorAnswer::finish()
{
    if (m_descriptor < 0)
        return;
    // The notifier must let go of the descriptor before it is closed.
    m_notifier->setEnabled(false);
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
