#include "net/webapi/filesender.h"

#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

namespace {
// Pieces kept waiting in the socket's buffer.
constexpr qint64 maxPending = 4 * FileSender::pieceSize;
} // namespace

FileSender::FileSender(QTcpSocket* socket, const QString& path)
    : QObject(socket)
    , m_socket(socket)
    , m_file(path)
{
}

bool FileSender::start(QTcpSocket* socket, const QString& path)
{
    if (!socket)
        return false;
    auto* sender = new FileSender(socket, path);
    if (!sender->m_file.open(QIODevice::ReadOnly)) {
        delete sender;
        return false;
    }
    connect(socket, &QTcpSocket::bytesWritten, sender, &FileSender::sendMore);
    sender->sendMore();
    return true;
}

void FileSender::sendMore()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState || !m_file.isOpen())
        return;
    while (m_socket->bytesToWrite() < maxPending && !m_file.atEnd()) {
        const QByteArray piece = m_file.read(pieceSize);
        if (piece.isEmpty())
            break;
        m_socket->write(piece);
    }
    if (m_file.atEnd()) {
        m_file.close();
        m_socket->disconnectFromHost();
    }
}

} // namespace Tavrix::Net::WebApi
