#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"

#include <string>
#include <vector>

namespace Tavrix::DeviceWebApi {

// A switch of the recorder's cuff ("State" "on" or "off", any letter case)
// sent as one described request; answers with the status only.
class TurnSwitchJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    TurnSwitchJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                          Usb::UsbDeviceManager* manager,
                          std::string simpleCommand);

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

protected:
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> describe(const std::string& name);

private:
    void handleAnswer(const std::vector<uint8_t>& answer, int32_t status);

    std::string m_simpleCommand;
};

// "SetPumpState": the cuff pump.
class TurnPumpJsonCommand : public TurnSwitchJsonCommand
{
public:
    TurnPumpJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                        Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

// "SetVentState": the cuff vent.
class TurnVentJsonCommand : public TurnSwitchJsonCommand
{
public:
    TurnVentJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                        Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi
