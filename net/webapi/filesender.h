#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace Tavrix::Net::WebApi {

// Sends a file as the body of a response: a piece at a time as the socket
// drains, then closes the connection. A download of a long recording so
// never holds more than a few pieces in memory. Lives as long as the socket
// (its child).
class FileSender : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 pieceSize = 64 * 1024;

    // Opens the regular file at `path` for `socket`; a symbolic link is not
    // followed. Null (nothing sent, nothing closed) when it cannot be opened.
    static FileSender* open(QTcpSocket* socket, const QString& path);

    // The bytes that will be sent: the size of the file that was opened.
    qint64 size() const { return m_size; }
    // Sends the file; the head of the response must be written already.
    void start();

private:
    explicit FileSender(QTcpSocket* socket);
    void sendMore();

    QTcpSocket* m_socket;
    QFile m_file;
    qint64 m_size = 0;
    qint64 m_sent = 0;
};

} // namespace Tavrix::Net::WebApi
