#pragma once

#include "usb/usbendpoint.h"

#include <mutex>
#include <vector>

namespace Tavrix::Usb {

// The command OUT endpoint. The command queue (main thread) places the next
// frame in the pending bytes; the USB loop sends it on its next pass.
template<unsigned int Address>
class UsbCmdWriter : public UsbEndPoint
{
public:
    UsbCmdWriter(const QString& name, UsbContext* context, QObject* parent = nullptr);

    // Moves the pending bytes into the send buffer and submits them, reusing
    // the transfer allocated when the loop started.
    void transfer();

    // Guards the pending bytes; held briefly by both threads. Locks shared
    // between threads are standard ones throughout: ThreadSanitizer sees
    // pthread locking, not the futexes inside a prebuilt Qt's QMutex.
    std::mutex& mutex() { return m_mutex; }

    // The following lock the mutex themselves.
    void setPendingBytes(std::vector<uint8_t>&& bytes);
    bool hasPendingBytes();
    void dropPendingBytes();
    std::vector<uint8_t> pendingBytes();

private:
    std::mutex m_mutex;
    std::vector<uint8_t> m_pendingBytes;
    std::vector<uint8_t> m_sendBuffer;
};

extern template class UsbCmdWriter<4>;

} // namespace Tavrix::Usb
