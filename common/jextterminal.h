#pragma once

namespace Tavrix::Common {

// A second destination for log lines (the WebSocket terminal), offered every
// line the message handler prints. `time` is the bracketed time stamp and
// `text` the line without its colour digit.
class JExtTerminal
{
public:
    virtual ~JExtTerminal() = default;
    virtual void out(char colour, char* time, char* type, char* text) = 0;
};

} // namespace Tavrix::Common
