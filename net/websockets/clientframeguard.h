#pragma once

#include "net/websockets/clientframescanner.h"

#include <QObject>
#include <QPointer>

class QTcpSocket;
class QWebSocket;

namespace Tavrix::Net::WebSockets {

// Fails a client's connection with 1002 (protocol error) at its first
// unmasked frame, which the WebSocket itself would accept. It reads the
// bytes the connection brings before the WebSocket does: the WebSocket
// takes them in a queued call after each arrival, this guard when they
// arrive, so an unmasked frame is dropped before the WebSocket turns it
// into a message.
//
// It lives as a child of the connection and must be made right after the
// WebSocket, before the event loop runs again.
class ClientFrameGuard : public QObject
{
    Q_OBJECT

public:
    ClientFrameGuard(QTcpSocket* socket, QWebSocket* webSocket);

signals:
    // The client was closed for an unmasked frame.
    void unmaskedFrame();

private:
    void onArrival();
    void onTaken();
    void fail();

    QTcpSocket* m_socket;
    QPointer<QWebSocket> m_webSocket;
    ClientFrameScanner m_scanner;
    // Offsets in the client's byte stream after the handshake: how far the
    // scanner has read, and where the socket's unread bytes begin.
    qint64 m_scanned = 0;
    qint64 m_bufferStart = 0;
    bool m_watching = true;
};

} // namespace Tavrix::Net::WebSockets
