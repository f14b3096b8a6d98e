#include "usb/devicecommandstatusconverter.h"

namespace Tavrix::Usb {

std::string DeviceCommandStatusConverter::toText(DeviceCommand::EStatus status)
{
    switch (status) {
    case DeviceCommand::OK:
        return "OK";
    case DeviceCommand::UNKNOWN_ERROR:
        return "UNKNOWN_ERROR";
    case DeviceCommand::NOT_EXIST:
        return "NOT_EXIST";
    case DeviceCommand::BAD_DATA:
        return "BAD_DATA";
    case DeviceCommand::TIMEOUT:
        return "TIMEOUT";
    case DeviceCommand::DEVICE_DISCONNECTED:
        return "DEVICE_DISCONNECTED";
    case DeviceCommand::WRONG_FRAME_FORMAT:
        return "WRONG_FRAME_FORMAT";
    case DeviceCommand::BUSY:
        return "BUSY";
    }
    return std::string();
}

} // namespace Tavrix::Usb
