#include "devicewebapi/devicewebapisimplecommand.h"

namespace Tavrix::DeviceWebApi {

DeviceWebApiSimpleCommand::DeviceWebApiSimpleCommand(const std::string& name,
                                                     unsigned int uid,
                                                     std::vector<uint8_t>&& bytes,
                                                     int timeout,
                                                     QTcpSocket* socket,
                                                     QObject* parent)
    : Usb::ByteCommand(name, uid, std::move(bytes), timeout, parent)
    , m_socket(socket)
{
}

} // namespace Tavrix::DeviceWebApi
