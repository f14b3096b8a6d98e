#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>

namespace Tavrix::Common {

class JExtTerminal;

// The process-wide Qt message handler: colour digit, time stamp, console
// output and the optional external terminal. Serves every thread, one message
// at a time.
class JMessageHandler
{
public:
    static void Init();
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    static QByteArray getTime();
    // Installs (`install` true) or removes the external terminal. Removing
    // only clears the slot when `terminal` is the one installed (or null).
    static void ExtTerminal(JExtTerminal* terminal, bool install);
    // Redirects console output; tests use it to capture lines. Null restores
    // the default stdout/stderr.
    static void setConsole(FILE* out, FILE* err);

    static constexpr int lineBufferSize = 400;
};

} // namespace Tavrix::Common
