#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct libusb_context;
struct libusb_device_handle;

namespace Tavrix::Common {
class ThreadLogging;
class SimpleLogger;
}

namespace Tavrix::Usb {

// State shared by the dispatcher and every endpoint of one USB worker: the
// open device, the link error state and the log sinks. The error state is the
// only channel through which endpoints report a broken link to the loop.
class UsbContext
{
public:
    // No device is open: every endpoint refuses to submit until the
    // dispatcher has opened and claimed the device.
    static constexpr int32_t noDevice = 5;

    UsbContext(Common::ThreadLogging* threadLog, Common::SimpleLogger* fileLog);
    UsbContext(const UsbContext&) = delete;
    UsbContext& operator=(const UsbContext&) = delete;

    // Appends the text, a blank and a line feed to the thread log.
    void logInfo(const std::string& text);
    // As logInfo, and also writes the text to the error log file.
    void logError(const std::string& text);

    int32_t errorState() const { return m_errorState.load(); }
    void setErrorState(int32_t state) { m_errorState.store(state); }

    // The libusb context the USB thread handles events of; null while there
    // is none. Set by the dispatcher around libusb_init and libusb_exit.
    void setEventContext(libusb_context* context);
    // Makes the USB thread return from its wait for events at once (any
    // thread), so that bytes queued for the recorder leave without waiting
    // for the wait's time-out.
    void wakeEventHandler();

    // Run by the completion callbacks of finished transfers (USB thread,
    // inside event handling). libusb reaps every finished transfer before it
    // returns, one round trip to the device each; work left for the loop's
    // next turn would wait for all of them.
    void setAfterCompletion(std::function<void()> work) { m_afterCompletion = std::move(work); }
    void afterCompletion()
    {
        if (m_afterCompletion)
            m_afterCompletion();
    }

    libusb_device_handle* m_deviceHandle = nullptr;

private:
    std::function<void()> m_afterCompletion;
    std::mutex m_eventContextMutex;
    libusb_context* m_eventContext = nullptr;
    Common::ThreadLogging* m_threadLog;
    Common::SimpleLogger* m_fileLog;
    std::atomic<int32_t> m_errorState{noDevice};
};

} // namespace Tavrix::Usb
