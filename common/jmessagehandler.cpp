#include "common/jmessagehandler.h"

#include "common/logtext.h"

#include "common/jextterminal.h"
#include "common/jterminal.h"

#include <QTime>
#include <cstring>
#include <mutex>

namespace Tavrix::Common {

namespace {

struct HandlerState
{
    std::recursive_mutex mutex; // recursive: an external terminal may log while being fed
    char line[JMessageHandler::lineBufferSize] = {};
    QByteArray time;
    JExtTerminal* terminal = nullptr;
    FILE* out = nullptr;
    FILE* err = nullptr;
    bool insideTerminal = false;
};

HandlerState& state()
{
    static HandlerState s;
    return s;
}

const char* colourEscape(int colour)
{
    static const char* const escapes[8] = {"\x1b[0m",  "\x1b[31m", "\x1b[32m", "\x1b[33m",
                                           "\x1b[34m", "\x1b[35m", "\x1b[36m", "\x1b[37m"};
    return escapes[colour & 7];
}

} // namespace

void JMessageHandler::Init()
{
    qInstallMessageHandler(&JMessageHandler::handler);
    JTerminal() << "ok";
}

QByteArray JMessageHandler::getTime()
{
    return ("[" + QTime::currentTime().toString("hh:mm:ss.zzz") + "]").toLocal8Bit();
}

void JMessageHandler::ExtTerminal(JExtTerminal* terminal, bool install)
{
    HandlerState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (install)
        s.terminal = terminal;
    else if (terminal == nullptr || s.terminal == terminal)
        s.terminal = nullptr;
}

void JMessageHandler::setConsole(FILE* out, FILE* err)
{
    HandlerState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.out = out;
    s.err = err;
}

void JMessageHandler::handler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (text.isEmpty())
        return;

    HandlerState& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);

    // Much of what is logged came from clients (hosts, origins, paths,
    // command names): none of it may drive the console or a terminal
    // client, nor end the line early to forge another.
    const QByteArray local = LogText::escaped(text).toLocal8Bit();
    const size_t length = std::min<size_t>(local.size(), lineBufferSize - 1);
    std::memcpy(s.line, local.constData(), length);
    s.line[length] = '\0';

    const int colour = static_cast<unsigned char>(s.line[0]) & 7;
    char* lineText = length > 2 ? s.line + 2 : s.line + length;
    s.time = getTime();

    // A terminal that logs from inside out() would otherwise recurse for ever.
    if (s.terminal && !s.insideTerminal) {
        s.insideTerminal = true;
        char typeText[] = "Debug";
        QByteArray time = s.time;
        s.terminal->out(static_cast<char>(colour), time.data(), typeText, lineText);
        s.insideTerminal = false;
    }

    FILE* out = s.out ? s.out : stdout;
    FILE* err = s.err ? s.err : stderr;
    switch (type) {
    case QtInfoMsg:
        std::fprintf(out, "%s%s %s\n", colourEscape(colour), s.time.constData(), lineText);
        std::fflush(out);
        break;
    case QtDebugMsg:
        std::fprintf(out, "#%s\n", s.line);
        std::fflush(out);
        break;
    case QtWarningMsg:
    case QtCriticalMsg:
    case QtFatalMsg:
        std::fprintf(err, "#%s\n", s.line);
        std::fflush(err);
        break;
    default:
        break;
    }
}

} // namespace Tavrix::Common
