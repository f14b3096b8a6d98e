#include "usb/adcviewermessage.h"

#include <iterator>
#include <utility>

namespace Tavrix::Usb {

AdcViewerMessage::AdcViewerMessage()
    : m_referenceKey{DevicesInfo::EChannelType::Ecg, DevicesInfo::EChannelSource::Device}
{
}

AdcViewerChannel* AdcViewerMessage::findChannel(const DevicesInfo::DeviceChannelTypeInfo& key) const
{
    for (const std::shared_ptr<AdcViewerChannel>& channel : m_channels) {
        if (channel->key == key)
            return channel.get();
    }
    return nullptr;
}

QByteArray AdcViewerMessage::getAdcBson()
{
    // Reserve what the previous message needed: blocks are of nearly constant
    // size, so the packer appends without growing.
    const int expectedSize = m_packer.data().size();
    m_packer.clear();
    m_packer.data().reserve(expectedSize);

    m_packer.packMapHeader(3);
    m_packer << "type" << "adc";
    m_packer << "time" << m_timeText;
    m_packer << "channels";
    m_packer.packArrayHeader(static_cast<uint32_t>(m_channels.size()));
    for (const std::shared_ptr<AdcViewerChannel>& channel : m_channels) {
        m_packer.packMapHeader(5);
        m_packer << "name" << channel->name;
        m_packer << "blockSize";
        m_packer.packUnsigned(channel->pointCount);
        m_packer << "pointCounter";
        m_packer.packUnsigned(channel->pointCounter);
        m_packer << "signalCount";
        m_packer.packUnsigned(channel->signalCount);
        m_packer << "data";
        m_packer.packArrayHeader(static_cast<uint32_t>(channel->values.size()));
        for (const int32_t value : channel->values)
            m_packer.packSigned(value);
        channel->pointCounter += channel->pointCount;
    }
    return m_packer.data();
}

std::string AdcViewerMessage::toLeadZeroText(int value, unsigned long width)
{
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

std::string AdcViewerMessage::getTimeText(const Common::DateTimeObject& dateTime)
{
    const Common::DateObject& date = dateTime.date;
    const Common::TimeObject& time = dateTime.time;
    // yyyy-MM-ddThh:mm:ss, then the zone mark.
    const std::pair<int, unsigned long> fields[] = {{date.year, 4}, {date.month, 2},  {date.day, 2},
                                                    {time.hour, 2}, {time.minute, 2}, {time.second, 2}};
    const char separators[] = "--T::";
    std::string text;
    text.reserve(24);
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0)
            text += separators[i - 1];
        text += toLeadZeroText(fields[i].first, fields[i].second);
    }
    text += "z03";
    return text;
}

} // namespace Tavrix::Usb
