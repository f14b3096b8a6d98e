#include "common/jconfig.h"
#include "common/jmessagehandler.h"
#include "common/jterminal.h"
#include "dastel/linkconfiguration.h"
#include "dastel/signalwatcher.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QThread>
#include <cstdlib>
#include <memory>

namespace {

// Windows consoles need the code page switch; on Linux there is no such
// command, so only run it where it exists and keep it quiet.
void selectConsoleCodePage()
{
    if (!QStandardPaths::findExecutable("chcp").isEmpty()) {
        [[maybe_unused]] int ignored = std::system("chcp 1251 >/dev/null 2>&1");
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    selectConsoleCodePage();
    Tavrix::Common::JMessageHandler::Init();
    Tavrix::Common::JConfig::addRgs(argc, argv);
    // Where the terminal page lives, relative to the executable's directory.
    Tavrix::Common::JConfig::addRg("PathToWebTerminal", QStringLiteral("web/terminal/"));

    auto root = std::make_unique<Tavrix::Dastel::LinkConfiguration>(
        QCoreApplication::applicationDirPath());
    Tavrix::Dastel::SignalWatcher signalWatcher;
    Tavrix::Common::JTerminal('2') << "start the program"
                                   << reinterpret_cast<quintptr>(QThread::currentThreadId());

    const int code = app.exec();

    Tavrix::Common::JTerminal('2') << "end of the program";
    root.reset();
    return code != 0 ? 1 : 0;
}
