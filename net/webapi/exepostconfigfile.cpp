#include "net/webapi/exepostconfigfile.h"

namespace Tavrix::Net::WebApi {

exePostConfigFile::exePostConfigFile(const QString& filePath, QObject* parent)
    : exePost(parent)
    , m_filePath(filePath)
{
}

void exePostConfigFile::exe(ParsingURI&, QByteArray& body, QTcpSocket* socket)
{
    file_writer(m_filePath, body);
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi
