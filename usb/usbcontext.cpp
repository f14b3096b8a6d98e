#include "usb/usbcontext.h"

#include "common/simplelogger.h"
#include "common/threadlogging.h"

#include <libusb.h>

namespace Tavrix::Usb {

UsbContext::UsbContext(Common::ThreadLogging* threadLog, Common::SimpleLogger* fileLog)
    : m_threadLog(threadLog)
    , m_fileLog(fileLog)
{
}

void UsbContext::logInfo(const std::string& text)
{
    if (m_threadLog != nullptr)
        *m_threadLog << text.c_str() << '\n';
}

void UsbContext::logError(const std::string& text)
{
    logInfo(text);
    if (m_fileLog != nullptr)
        m_fileLog->write(text);
}

void UsbContext::setEventContext(libusb_context* context)
{
    std::lock_guard lock(m_eventContextMutex);
    m_eventContext = context;
}

void UsbContext::wakeEventHandler()
{
    // Under the lock: the USB thread cannot exit the context meanwhile.
    std::lock_guard lock(m_eventContextMutex);
    if (m_eventContext != nullptr)
        libusb_interrupt_event_handler(m_eventContext);
}

} // namespace Tavrix::Usb
