#include "usb/deviceferrowserieswithadframedecoder.h"

namespace Tavrix::Usb {

using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace {
constexpr std::size_t prsOffset = 43;
constexpr std::size_t tonOffset = 46;
constexpr std::size_t buttonOffset = 49;
}

DeviceFerrowSeriesWithADFrameDecoder::DeviceFerrowSeriesWithADFrameDecoder(uint64_t ecgCount)
    : DeviceFerrowSeriesFrameDecoder("DeviceFerrowSeriesWithAD",
                                     {{{EChannelType::Ecg, EChannelSource::Device}, ecgCount, {}},
                                      {{EChannelType::Reo, EChannelSource::Device}, 2, {}},
                                      {{EChannelType::Acc, EChannelSource::Device}, 3, {}},
                                      {{EChannelType::Prs, EChannelSource::Device}, 1, {}},
                                      {{EChannelType::Ton, EChannelSource::Device}, 1, {}}})
{
}

bool DeviceFerrowSeriesWithADFrameDecoder::hasButtonLabel(const std::vector<uint8_t>& frame)
{
    return frame.size() > buttonOffset && (frame[buttonOffset] & 0x01) != 0;
}

void DeviceFerrowSeriesWithADFrameDecoder::parseData(const std::vector<uint8_t>& frame)
{
    parseCommonGroups(frame);
    for (AdcChannelData& group : mutableGroups()) {
        if (group.key.source != EChannelSource::Device)
            continue;
        if (group.key.type == EChannelType::Prs)
            readGroup(group, frame, prsOffset, 1);
        else if (group.key.type == EChannelType::Ton)
            readGroup(group, frame, tonOffset, 1);
    }
}

} // namespace Tavrix::Usb
