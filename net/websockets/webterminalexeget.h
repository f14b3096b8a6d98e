#pragma once

#include "net/webapi/exeget.h"

namespace Tavrix::Net::WebSockets {

// Serves the terminal's web page: <application dir>/<PathToWebTerminal>index.html.
class WebTerminalExeGet : public WebApi::exeGet
{
    Q_OBJECT

public:
    using WebApi::exeGet::exeGet;

    void exe(WebApi::ParsingURI& uri, QTcpSocket* socket) override;
    bool guarded() const override { return false; }

    // Defaults to the executable's directory.
    void setApplicationDirectory(const QString& directory) { m_applicationDirectory = directory; }

private:
    QString m_applicationDirectory;
};

} // namespace Tavrix::Net::WebSockets
