#include "usb/usbdatalistener.h"

#include "usb/usbreadtransfer.h"

namespace Tavrix::Usb {

namespace {
// Payload offset in a frame (start byte, two length bytes, code) and the
// trailing four data bytes of every read-out frame that are not memory content.
constexpr std::size_t payloadOffset = 4;
constexpr uint32_t trailingDataBytes = 4;
}

UsbDataListener::UsbDataListener(const QString& name, UsbContext* context, std::size_t bufferSize, QObject* parent)
    : UsbEndPointReader(endpointAddress, name, context, bufferSize, parent)
    , m_parcer(bufferSize)
{
}

void UsbDataListener::submitRead()
{
    transfer(&UsbReadTransfer<UsbDataListener>::callback);
}

void UsbDataListener::startReadout(uint64_t startAddress, uint64_t finishAddress, uint32_t blockSize)
{
    m_accumulated.clear();
    m_currentAddress.store(startAddress);
    m_finishAddress.store(finishAddress);
    m_blockSize.store(blockSize);
    m_active.store(true);
}

void UsbDataListener::finish(std::vector<uint8_t> lastBlock)
{
    m_active.store(false);
    m_accumulated.clear();
    emit signalAnswer(std::move(lastBlock), 1);
}

bool UsbDataListener::handOverBlocks()
{
    const uint64_t finishAddress = m_finishAddress.load();
    const uint64_t blockSize = m_blockSize.load();

    uint64_t current = m_currentAddress.load();
    if (current + m_accumulated.size() > finishAddress) {
        const uint64_t keep = finishAddress > current ? finishAddress - current : 0;
        std::vector<uint8_t> last(m_accumulated.begin(), m_accumulated.begin() + static_cast<std::ptrdiff_t>(keep));
        finish(std::move(last));
        return true;
    }

    // A zero block size would never consume anything; the data then goes out
    // as one piece when the finish address is reached.
    std::size_t offset = 0;
    while (blockSize > 0 && m_accumulated.size() - offset >= blockSize) {
        std::vector<uint8_t> block(m_accumulated.begin() + static_cast<std::ptrdiff_t>(offset),
                                   m_accumulated.begin() + static_cast<std::ptrdiff_t>(offset + blockSize));
        offset += blockSize;
        if (current + blockSize == finishAddress) {
            finish(std::move(block));
            return true;
        }
        emit signalAnswer(std::move(block), 0);
        current += blockSize;
        m_currentAddress.store(current);
    }
    m_accumulated.erase(m_accumulated.begin(), m_accumulated.begin() + static_cast<std::ptrdiff_t>(offset));

    if (current + m_accumulated.size() == finishAddress) {
        finish(std::move(m_accumulated));
        return true;
    }
    return false;
}

void UsbDataListener::handleDataBlockIsReceived(const std::vector<uint8_t>& block)
{
    for (const uint8_t byte : block) {
        if (!m_parcer.put(byte))
            continue;
        const uint32_t length = m_parcer.declaredLength();
        // A frame too short to carry its four trailing bytes has no content.
        if (length > trailingDataBytes) {
            const uint8_t* payload = m_parcer.data() + payloadOffset;
            m_accumulated.insert(m_accumulated.end(), payload, payload + (length - trailingDataBytes));
        }
        if (handOverBlocks())
            return;
    }
}

} // namespace Tavrix::Usb
