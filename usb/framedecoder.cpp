#include "usb/framedecoder.h"

#include <utility>

namespace Tavrix::Usb {

FrameDecoder::FrameDecoder(std::string name, std::vector<AdcChannelData> groups)
    : m_name(std::move(name))
    , m_groups(std::move(groups))
{
    for (AdcChannelData& group : m_groups)
        group.values.assign(group.count, 0);
}

FrameDecoder::~FrameDecoder() = default;

AdcChannelData* FrameDecoder::findGroup(const DevicesInfo::DeviceChannelTypeInfo& key)
{
    for (AdcChannelData& group : m_groups) {
        if (group.key == key)
            return &group;
    }
    return nullptr;
}

const AdcChannelData* FrameDecoder::findGroup(const DevicesInfo::DeviceChannelTypeInfo& key) const
{
    return const_cast<FrameDecoder*>(this)->findGroup(key);
}

bool FrameDecoder::setGroupCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint64_t count)
{
    AdcChannelData* group = findGroup(key);
    if (!group)
        return false;
    group->count = count;
    group->values.assign(count, 0);
    return true;
}

int32_t FrameDecoder::readSample(const std::vector<uint8_t>& frame, std::size_t offset)
{
    if (offset + 3 > frame.size())
        return 0;
    const uint32_t raw = static_cast<uint32_t>(frame[offset])
                         | (static_cast<uint32_t>(frame[offset + 1]) << 8)
                         | (static_cast<uint32_t>(frame[offset + 2]) << 16);
    // Sign-extend bit 23.
    return static_cast<int32_t>(raw << 8) >> 8;
}

unsigned FrameDecoder::readUint16(const std::vector<uint8_t>& frame, std::size_t offset)
{
    if (offset + 2 > frame.size())
        return 0;
    return static_cast<unsigned>(frame[offset]) | (static_cast<unsigned>(frame[offset + 1]) << 8);
}

bool FrameDecoder::matches(const std::vector<uint8_t>& frame, std::size_t length, const uint8_t (&header)[4])
{
    return frame.size() == length && frame[0] == header[0] && frame[1] == header[1]
           && frame[2] == header[2] && frame[3] == header[3];
}

void FrameDecoder::readGroup(AdcChannelData& group,
                             const std::vector<uint8_t>& frame,
                             std::size_t offset,
                             uint64_t capacity)
{
    if (group.values.size() != group.count)
        group.values.resize(group.count);
    for (uint64_t i = 0; i < group.count; ++i)
        group.values[i] = i < capacity ? readSample(frame, offset + 3 * i) : 0;
}

} // namespace Tavrix::Usb
