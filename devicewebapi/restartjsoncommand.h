#pragma once

#include "devicecomplexcommands/restartcommand.h"
#include "devicewebapi/singlevaluejsoncommand.h"

namespace Tavrix::DeviceWebApi {

// "Restart": restarts the recorder; answers with the status only.
class RestartJsonCommand : public StatusOnlyJsonCommand<DeviceComplexCommands::RestartCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi
