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
    uint8_t code = 0;
    return Common::ByteReader(answer, RecorderFrame::codeOffset).readU8(code) && code == refusalCode;
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

} // namespace Tavrix::DeviceComplexCommands::Exchange
