#pragma once

#include "usb/bytecommand.h"

#include <QPointer>
#include <QTcpSocket>

namespace Tavrix::DeviceWebApi {

// A byte command sent on a client's behalf: remembers the connection its
// answer goes to. The connection may be gone by then; the answer is dropped.
class DeviceWebApiSimpleCommand : public Usb::ByteCommand
{
    Q_OBJECT

public:
    DeviceWebApiSimpleCommand(const std::string& name,
                              unsigned int uid,
                              std::vector<uint8_t>&& bytes,
                              int timeout,
                              QTcpSocket* socket,
                              QObject* parent = nullptr);

    // Null once the client's connection was deleted.
    QTcpSocket* socket() const { return m_socket.data(); }

private:
    QPointer<QTcpSocket> m_socket;
};

} // namespace Tavrix::DeviceWebApi
