#include "devicecomplexcommands/operationexchange.h"

#include "usb/devicecommandstatuscreator.h"

namespace Tavrix::DeviceComplexCommands::Exchange {

StatusPtr ok()
{
    return std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::OK);
}

StatusPtr failure(int32_t code, const std::vector<uint8_t>& answer)
{
    return Usb::DeviceCommandStatusCreator::create(answer, code);
}

bool isRefusal(const std::vector<uint8_t>& answer)
{
    return answer.size() > 3 && answer[3] == refusalCode;
}

StatusPtr checkAnswer(const std::vector<uint8_t>& answer, int32_t status, std::size_t minSize, std::size_t maxSize)
{
    if (status != Usb::DeviceCommand::OK)
        return failure(status, answer);
    // A refusal is a well-formed 9-byte frame: without this check a refused
    // write or read-out start would pass for done.
    if (isRefusal(answer) || answer.size() < minSize || answer.size() > maxSize)
        return failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer);
    return {};
}

std::vector<uint8_t> frame(uint8_t code, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes{0x7E};
    appendLittleEndian(bytes, data.size(), 2);
    bytes.push_back(code);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xBD});
    return bytes;
}

int32_t readInt24(const uint8_t* bytes)
{
    int32_t value = static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16));
    if (value & 0x800000)
        value -= 0x1000000;
    return value;
}

void appendInt24(std::vector<uint8_t>& out, int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value) & 0xFFFFFF;
    appendLittleEndian(out, bits, 3);
}

uint64_t readLittleEndian(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t count)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < count && offset + i < bytes.size(); ++i)
        value |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
    return value;
}

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace Tavrix::DeviceComplexCommands::Exchange
