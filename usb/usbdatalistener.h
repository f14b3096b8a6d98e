#pragma once

#include "usb/frameparcer.h"
#include "usb/usbendpointreader.h"

#include <atomic>

namespace Tavrix::Usb {

// The memory read-out IN endpoint. In frame mode the payload of every frame is
// accumulated and handed over in blocks of the transmit block size, counted by
// device address; the block that reaches the finish address carries status 1,
// every other block status 0. Nothing past the finish address is handed over.
class UsbDataListener : public UsbEndPointReader
{
    Q_OBJECT

public:
    static constexpr unsigned int endpointAddress = 0x86;

    UsbDataListener(const QString& name, UsbContext* context, std::size_t bufferSize, QObject* parent = nullptr);

    // Consumes one read of the endpoint (frame mode).
    void handleDataBlockIsReceived(const std::vector<uint8_t>& block);
    void submitRead();
    void resetParcer() { m_parcer.reset(); }

    // Set from the main thread before the read-out is activated.
    void setCurrentAddress(uint64_t address) { m_currentAddress.store(address); }
    void setFinishAddress(uint64_t address) { m_finishAddress.store(address); }
    void setTransmitBlockSize(uint32_t size) { m_blockSize.store(size); }
    void setActive(bool active) { m_active.store(active); }
    // Addresses and block size, then the active flag last.
    void startReadout(uint64_t startAddress, uint64_t finishAddress, uint32_t blockSize);

    uint64_t currentAddress() const { return m_currentAddress.load(); }
    uint64_t finishAddress() const { return m_finishAddress.load(); }
    uint32_t transmitBlockSize() const { return m_blockSize.load(); }
    bool isActive() const { return m_active.load(); }
    bool isFrameMode() const { return m_frameMode; }

private:
    // Hands over what the accumulation allows; true when the read-out ended.
    bool handOverBlocks();
    void finish(std::vector<uint8_t> lastBlock);

    std::atomic<uint64_t> m_currentAddress{0};
    std::atomic<uint64_t> m_finishAddress{0};
    std::atomic<bool> m_active{false};
    FrameParcer m_parcer;
    std::atomic<uint32_t> m_blockSize{0};
    std::vector<uint8_t> m_accumulated;
    bool m_frameMode = true;
};

} // namespace Tavrix::Usb
