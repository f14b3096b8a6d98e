#include "usb/cableframedecoder.h"

namespace Tavrix::Usb {

namespace {
constexpr uint8_t header[4] = {0x7E, 0x0E, 0x00, 0x81};
constexpr std::size_t accOffset = 4;
constexpr std::size_t frameNumberOffset = 16;
}

CableFrameDecoder::CableFrameDecoder()
    : FrameDecoder("Cable", {{{DevicesInfo::EChannelType::Acc, DevicesInfo::EChannelSource::Cable}, 3, {}}})
{
}

bool CableFrameDecoder::isValidFrame(const std::vector<uint8_t>& frame)
{
    return matches(frame, frameLength, header);
}

unsigned CableFrameDecoder::getFrameNumber(const std::vector<uint8_t>& frame)
{
    return readUint16(frame, frameNumberOffset);
}

bool CableFrameDecoder::hasButtonLabel(const std::vector<uint8_t>&)
{
    return false;
}

void CableFrameDecoder::parseData(const std::vector<uint8_t>& frame)
{
    for (AdcChannelData& group : mutableGroups())
        readGroup(group, frame, accOffset, 3);
}

} // namespace Tavrix::Usb
