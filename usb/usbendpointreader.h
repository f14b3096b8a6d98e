#pragma once

#include "usb/usbendpoint.h"

#include <cstddef>

struct libusb_transfer;

namespace Tavrix::Usb {

// An IN endpoint: one read buffer, allocated once, and the byte count of the
// last completed read.
class UsbEndPointReader : public UsbEndPoint
{
    Q_OBJECT

public:
    using Callback = void (*)(libusb_transfer*);

    UsbEndPointReader(unsigned int address,
                      const QString& name,
                      UsbContext* context,
                      std::size_t bufferSize,
                      QObject* parent = nullptr);

    // Submits one read of the whole buffer; failures go to the context state.
    void transfer(Callback callback);

    uint8_t* buffer() { return m_buffer.data(); }
    std::size_t bufferSize() const { return m_buffer.size(); }
    // Bytes of the last completed read; 0 after a time-out or cancellation.
    int receivedCount() const { return m_receivedCount; }
    void setReceivedCount(int count) { m_receivedCount = count; }

private:
    std::vector<uint8_t> m_buffer;
    int m_receivedCount = 0;
};

} // namespace Tavrix::Usb
