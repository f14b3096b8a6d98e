#include "usb/devicecommandstatuscreator.h"

#include "usb/devicecommandstatusinfo.h"

namespace Tavrix::Usb {

std::shared_ptr<DeviceCommandStatus> DeviceCommandStatusCreator::create(const std::vector<uint8_t>& answer,
                                                                        int status)
{
    const auto code = static_cast<DeviceCommand::EStatus>(status);
    if (code == DeviceCommand::WRONG_FRAME_FORMAT)
        return std::make_shared<DeviceCommandStatusInfo<std::vector<uint8_t>>>(code, answer);
    return std::make_shared<DeviceCommandStatus>(code);
}

} // namespace Tavrix::Usb
