#pragma once

namespace Tavrix::Usb {

// Whoever a byte command is sent for (a web client). Until the first of its
// commands is written to the recorder, a requester that has gone takes its
// waiting commands back unsent: nobody is left to hear the answer, and a
// write the user gave up on must not run. Once one was written, the rest
// run, so an operation is never left half done for that reason.
class CommandRequester
{
public:
    virtual ~CommandRequester() = default;

    virtual bool isGone() const = 0;

    bool hasStarted() const { return m_started; }
    void markStarted() { m_started = true; }

private:
    bool m_started = false;
};

} // namespace Tavrix::Usb
