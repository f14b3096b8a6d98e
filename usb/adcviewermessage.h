#pragma once

#include "common/datetimeobject.h"
#include "common/messagepacker.h"
#include "devicesinfo/devicechanneltypeinfo.h"
#include "usb/adcviewerchannel.h"

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// The signal message: every channel's points of one block, packed as
// MessagePack for the signal stream.
class AdcViewerMessage
{
public:
    static constexpr uint64_t defaultBlockSize = 40;

    AdcViewerMessage();

    // Packs all channels (a channel without points is listed with an empty
    // "data") and advances each channel's running point counter.
    QByteArray getAdcBson();

    // "yyyy-MM-ddThh:mm:ssz03" from the device clock.
    static std::string getTimeText(const Common::DateTimeObject& dateTime);
    // Decimal text with "0" put in front until it is at least `width` long.
    static std::string toLeadZeroText(int value, unsigned long width);

    const DevicesInfo::DeviceChannelTypeInfo& referenceKey() const { return m_referenceKey; }
    uint64_t blockSize() const { return m_blockSize; }

    uint64_t pointCounter() const { return m_pointCounter; }
    void setPointCounter(uint64_t counter) { m_pointCounter = counter; }

    const std::string& timeText() const { return m_timeText; }
    void setTimeText(std::string text) { m_timeText = std::move(text); }

    std::vector<std::shared_ptr<AdcViewerChannel>>& channels() { return m_channels; }
    const std::vector<std::shared_ptr<AdcViewerChannel>>& channels() const { return m_channels; }
    // First channel with the key, or null.
    AdcViewerChannel* findChannel(const DevicesInfo::DeviceChannelTypeInfo& key) const;

private:
    Common::MessagePacker m_packer;
    DevicesInfo::DeviceChannelTypeInfo m_referenceKey;
    uint64_t m_pointCounter = 0;
    uint64_t m_blockSize = defaultBlockSize;
    std::vector<std::shared_ptr<AdcViewerChannel>> m_channels;
    std::string m_timeText;
};

} // namespace Tavrix::Usb
