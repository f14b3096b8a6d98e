#include "usb/deviceferrowseriesframedecoder.h"

namespace Tavrix::Usb {

using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace {
constexpr uint8_t header[4] = {0x7E, 0x32, 0x00, 0x80};
constexpr std::size_t reoOffset = 28;
constexpr std::size_t accOffset = 34;
constexpr std::size_t buttonOffset = 43;
constexpr std::size_t frameNumberOffset = 52;
}

DeviceFerrowSeriesFrameDecoder::DeviceFerrowSeriesFrameDecoder()
    : DeviceFerrowSeriesFrameDecoder("DeviceFerrowSeries",
                                     {{{EChannelType::Ecg, EChannelSource::Device}, defaultEcgCount, {}},
                                      {{EChannelType::Reo, EChannelSource::Device}, 2, {}},
                                      {{EChannelType::Acc, EChannelSource::Device}, 3, {}}})
{
}

DeviceFerrowSeriesFrameDecoder::DeviceFerrowSeriesFrameDecoder(std::string name,
                                                               std::vector<AdcChannelData> groups)
    : FrameDecoder(std::move(name), std::move(groups))
{
}

bool DeviceFerrowSeriesFrameDecoder::isValidFrame(const std::vector<uint8_t>& frame)
{
    return matches(frame, frameLength, header);
}

unsigned DeviceFerrowSeriesFrameDecoder::getFrameNumber(const std::vector<uint8_t>& frame)
{
    return readUint16(frame, frameNumberOffset);
}

bool DeviceFerrowSeriesFrameDecoder::hasButtonLabel(const std::vector<uint8_t>& frame)
{
    return frame.size() > buttonOffset && (frame[buttonOffset] & 0x01) != 0;
}

void DeviceFerrowSeriesFrameDecoder::parseCommonGroups(const std::vector<uint8_t>& frame)
{
    for (AdcChannelData& group : mutableGroups()) {
        if (group.key.source != EChannelSource::Device)
            continue;
        switch (group.key.type) {
        case EChannelType::Ecg:
            readGroup(group, frame, ecgOffset, ecgCapacity);
            break;
        case EChannelType::Reo:
            readGroup(group, frame, reoOffset, 2);
            break;
        case EChannelType::Acc:
            readGroup(group, frame, accOffset, 3);
            break;
        default:
            break;
        }
    }
}

void DeviceFerrowSeriesFrameDecoder::parseData(const std::vector<uint8_t>& frame)
{
    parseCommonGroups(frame);
}

} // namespace Tavrix::Usb
