#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace Tavrix::Net::WebApi {

// Sends a file as the body of a response whose head is already written: a
// piece at a time as the socket drains, then closes the connection. A
// download of a long recording so never holds more than a few pieces in
// memory. Lives as long as the socket (its child).
class FileSender : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 pieceSize = 64 * 1024;

    // False (nothing sent, nothing closed) when the file cannot be opened.
    static bool start(QTcpSocket* socket, const QString& path);

private:
    FileSender(QTcpSocket* socket, const QString& path);
    void sendMore();

    QTcpSocket* m_socket;
    QFile m_file;
};

} // namespace Tavrix::Net::WebApi
