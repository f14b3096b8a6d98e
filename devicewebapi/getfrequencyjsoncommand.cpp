#include "devicewebapi/getfrequencyjsoncommand.h"

namespace Tavrix::DeviceWebApi {

GetFrequencyJsonCommand::GetFrequencyJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                                 Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(int(value)); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> GetFrequencyJsonCommand::createCommandDescription()
{
    return describe("GetFrequency", "Frequency", Net::WebApi::EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi
