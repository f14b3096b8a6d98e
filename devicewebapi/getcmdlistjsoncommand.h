#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"

#include <QJsonObject>
#include <string>

namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// "GetCmdList": the descriptions of every registered web command, one JSON
// object per command ("cmd", "data", "answer"), so clients discover the API.
class GetCmdListJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    GetCmdListJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                          Net::WebApi::JsonCommandFactory* factory);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    // Answers at once, inside the call.
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // The text as a JSON object; an empty object (and a line on standard
    // output) when it is not one.
    static QJsonObject createJsonObject(const std::string& text);

private:
    Net::WebApi::JsonCommandFactory* m_factory;
};

} // namespace Tavrix::DeviceWebApi
