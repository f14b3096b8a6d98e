#include "usb/recorderframe.h"

#include "common/bytewriter.h"

namespace Tavrix::Usb {

namespace {
// Checksum and end byte.
constexpr std::size_t trailerSize = 3;
} // namespace

std::vector<uint8_t> RecorderFrame::request(uint8_t code, const std::vector<uint8_t>& data, uint16_t checksum)
{
    if (data.size() > 0xFFFF)
        return {};
    Common::ByteWriter frame;
    frame.u8(startByte).u16(static_cast<uint16_t>(data.size())).u8(code).bytes(data).u16(checksum).u8(endByte);
    return frame.take();
}

Common::ByteReader RecorderFrame::fields(const std::vector<uint8_t>& answer, std::size_t offset)
{
    const std::size_t end = answer.size() > trailerSize ? answer.size() - trailerSize : 0;
    Common::ByteReader reader(answer.data(), end);
    if (!reader.seek(offset))
        reader.seek(end);
    return reader;
}

} // namespace Tavrix::Usb
