#include "devicewebapi/flashjsoncommands.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

GetWrittenFlashDataCountJsonCommand::GetWrittenFlashDataCountJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                                         Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](uint64_t value) { return QJsonValue(static_cast<qint64>(value)); })
{
}

std::shared_ptr<JsonCommandDescription> GetWrittenFlashDataCountJsonCommand::createCommandDescription()
{
    return describe("GetWrittenFlashDataCount", "DataCount", EJsonUnitType::Int);
}

std::shared_ptr<JsonCommandDescription> StartReceiveFlashDataJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>("StartReceiveFlashData",
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

} // namespace Tavrix::DeviceWebApi
