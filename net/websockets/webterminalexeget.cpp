#include "net/websockets/webterminalexeget.h"

#include "common/jconfig.h"
#include "common/jterminal.h"

#include <QCoreApplication>
#include <cstdio>

namespace Tavrix::Net::WebSockets {

namespace {
const QString pathParameter = QStringLiteral("PathToWebTerminal");
}

void WebTerminalExeGet::exe(WebApi::ParsingURI&, QTcpSocket* socket)
{
    // Without the parameter there is no page; a lookup of an absent
    // parameter would end the process.
    if (!Common::JConfig::hasRg(pathParameter)) {
        Common::JTerminal('1') << "parameter" << pathParameter << "absent";
        m_makeResponse->ret404(pathParameter);
        sentResponse(socket);
        return;
    }
    const QString appDir =
        m_applicationDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : m_applicationDirectory;
    const QString path = appDir + "/" + Common::JConfig::getRg(pathParameter).toString() + "index.html";
    std::printf("%s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
    file_reader(path, QStringLiteral("html"));
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebSockets
