#include "devicewebapi/restartjsoncommand.h"

namespace Tavrix::DeviceWebApi {

std::shared_ptr<Net::WebApi::JsonCommandDescription> RestartJsonCommand::createCommandDescription()
{
    using namespace Net::WebApi;
    return std::make_shared<JsonCommandDescription>("Restart", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

} // namespace Tavrix::DeviceWebApi
