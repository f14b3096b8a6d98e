#include "net/webapi/filesender.h"

#include "common/regularfiles.h"

#include <QTcpSocket>

#include <algorithm>

namespace Tavrix::Net::WebApi {

namespace {
// Pieces kept waiting in the socket's buffer.
constexpr qint64 maxPending = 4 * FileSender::pieceSize;
} // namespace

FileSender::FileSender(QTcpSocket* socket)
    : QObject(socket)
    , m_socket(socket)
{
}

FileSender* FileSender::open(QTcpSocket* socket, const QString& path)
{
    if (!socket)
        return nullptr;
    auto* sender = new FileSender(socket);
    if (!Common::RegularFiles::open(sender->m_file, path)) {
        delete sender;
        return nullptr;
    }
    sender->m_size = sender->m_file.size();
    return sender;
}

void FileSender::start()
{
    connect(m_socket, &QTcpSocket::bytesWritten, this, &FileSender::sendMore);
    sendMore();
}

void FileSender::sendMore()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState || !m_file.isOpen())
        return;
    // Exactly the size announced in the head, even if the file changed since.
    while (m_socket->bytesToWrite() < maxPending && m_sent < m_size) {
        const QByteArray piece = m_file.read(std::min(pieceSize, m_size - m_sent));
        if (piece.isEmpty())
            break;
        m_socket->write(piece);
        m_sent += piece.size();
    }
    if (m_sent >= m_size || m_file.atEnd()) {
        m_file.close();
        m_socket->disconnectFromHost();
    }
}

} // namespace Tavrix::Net::WebApi
