#include "net/webapi/exegetconfigfile.h"

namespace Tavrix::Net::WebApi {

exeGetConfigFile::exeGetConfigFile(const QString& filePath, QObject* parent)
    : exeGet(parent)
    , m_filePath(filePath)
{
}

void exeGetConfigFile::exe(ParsingURI&, QTcpSocket* socket)
{
    file_reader(m_filePath, QStringLiteral("json"));
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi
