#include "net/websockets/clientframeguard.h"

#include <QMetaObject>
#include <QTcpSocket>
#include <QWebSocket>

namespace Tavrix::Net::WebSockets {

ClientFrameGuard::ClientFrameGuard(QTcpSocket* socket, QWebSocket* webSocket)
    : QObject(socket)
    , m_socket(socket)
    , m_webSocket(webSocket)
{
    // The WebSocket connected its own queued reader first, so on every
    // arrival: onArrival now, then the WebSocket's read, then onTaken.
    connect(socket, &QTcpSocket::readyRead, this, &ClientFrameGuard::onArrival);
    connect(socket, &QTcpSocket::readyRead, this, &ClientFrameGuard::onTaken, Qt::QueuedConnection);
    // Frames sent right behind the handshake are in the buffer already and
    // a read of them may be queued.
    onArrival();
    QMetaObject::invokeMethod(this, &ClientFrameGuard::onTaken, Qt::QueuedConnection);
}

void ClientFrameGuard::onArrival()
{
    if (!m_watching)
        return;
    const qint64 available = m_socket->bytesAvailable();
    const qint64 seen = m_scanned - m_bufferStart;
    if (seen < 0 || seen > available) {
        // Out of step with the socket (never seen): stop judging rather
        // than close a client for a misread header.
        m_watching = false;
        return;
    }
    if (available == seen)
        return;
    const QByteArray buffered = m_socket->peek(available);
    const qint64 fresh = buffered.size() - seen;
    if (!m_scanner.feed(buffered.constData() + seen, static_cast<std::size_t>(fresh))) {
        fail();
        return;
    }
    m_scanned += fresh;
}

void ClientFrameGuard::onTaken()
{
    // Everything in the buffer has been scanned: no bytes arrive between an
    // arrival's onArrival and this.
    if (m_watching)
        m_bufferStart = m_scanned - m_socket->bytesAvailable();
}

void ClientFrameGuard::fail()
{
    m_watching = false;
    // Whatever the client sent from the bad frame on never reaches the
    // WebSocket.
    m_socket->skip(m_socket->bytesAvailable());
    if (m_webSocket)
        m_webSocket->close(QWebSocketProtocol::CloseCodeProtocolError, QStringLiteral("client frames must be masked"));
    m_socket->disconnectFromHost();
    emit unmaskedFrame();
}

} // namespace Tavrix::Net::WebSockets
