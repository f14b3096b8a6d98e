#include "devicewebapi/getexternaccfrequencyjsoncommand.h"

namespace Tavrix::DeviceWebApi {

GetExternAccFrequencyJsonCommand::GetExternAccFrequencyJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                                                   Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(int(value)); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> GetExternAccFrequencyJsonCommand::createCommandDescription()
{
    return describe("GetExternAccFrequency", "Frequency", Net::WebApi::EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi
