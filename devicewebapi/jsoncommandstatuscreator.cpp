#include "devicewebapi/jsoncommandstatuscreator.h"

#include "usb/devicecommandstatus.h"
#include "usb/devicecommandstatusconverter.h"
#include "usb/devicecommandstatusinfo.h"

namespace Tavrix::DeviceWebApi {

using Net::WebApi::ErrorJsonCommandStatus;
using Net::WebApi::ErrorJsonCommandStatusWithData;
using Net::WebApi::JsonCommandStatus;
using Net::WebApi::OkJsonCommandStatus;
using Usb::DeviceCommand::EStatus;

std::string JsonCommandStatusCreator::statusName(EStatus code)
{
    const std::string name = Usb::DeviceCommandStatusConverter::toText(code);
    return name.empty() ? Usb::DeviceCommandStatusConverter::toText(Usb::DeviceCommand::UNKNOWN_ERROR) : name;
}

std::shared_ptr<JsonCommandStatus> JsonCommandStatusCreator::create(std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    if (!status)
        return create(Usb::DeviceCommand::UNKNOWN_ERROR);
    if (status->status == Usb::DeviceCommand::WRONG_FRAME_FORMAT) {
        const auto* withFrame = dynamic_cast<const Usb::DeviceCommandStatusInfo<std::vector<uint8_t>>*>(status.get());
        return create(status->status, withFrame ? withFrame->info : std::vector<uint8_t>());
    }
    const auto* withText = dynamic_cast<const Usb::DeviceCommandStatusInfo<std::string>*>(status.get());
    if (withText && status->status != Usb::DeviceCommand::OK && !withText->info.empty()) {
        auto error = std::make_shared<ErrorJsonCommandStatus>(statusName(status->status));
        error->setErrorText(withText->info);
        return error;
    }
    return create(status->status);
}

std::shared_ptr<JsonCommandStatus> JsonCommandStatusCreator::create(EStatus code)
{
    if (code == Usb::DeviceCommand::OK)
        return std::make_shared<OkJsonCommandStatus>();
    return std::make_shared<ErrorJsonCommandStatus>(statusName(code));
}

std::shared_ptr<JsonCommandStatus> JsonCommandStatusCreator::create(EStatus code, const std::vector<uint8_t>& data)
{
    if (code == Usb::DeviceCommand::WRONG_FRAME_FORMAT)
        return std::make_shared<ErrorJsonCommandStatusWithData<std::vector<uint8_t>>>(statusName(code), data);
    return create(code);
}

} // namespace Tavrix::DeviceWebApi
