#include "usb/usbcontext.h"

#include "common/simplelogger.h"
#include "common/threadlogging.h"

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

} // namespace Tavrix::Usb
