#pragma once

#include "devicecomplexcommands/calibrationcommands.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "devicewebapi/singlevaluejsoncommand.h"
#include "usb/adcchannelsmanager.h"

#include <QJsonArray>

namespace Tavrix::DeviceWebApi {

// A calibration point as the clients see it: every value as text.
QJsonObject calibrationPointToJson(const Usb::CalibrationPoint& point);

// "ReadInnerChannelsCalibration": {"Channels": [{"Name", "Map", "clbK", "clbB"}, …]}
// for every device group the channel manager also has.
class ReadInnerChannelsCalibrationJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    ReadInnerChannelsCalibrationJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                            Usb::UsbDeviceManager* manager,
                                            std::shared_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command,
                      DeviceComplexCommands::CalibrationGroups groups,
                      DeviceStatusPtr status);
    std::shared_ptr<Usb::AdcChannelsManager> m_channels;
};

// "ReadExternAccCalibration": one {"Name", "Map", "clbK", "clbB"} for the
// cable's accelerometer; NOT_EXIST when the device has no such group.
class ReadExternAccCalibrationJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    ReadExternAccCalibrationJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                        Usb::UsbDeviceManager* manager,
                                        std::shared_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, std::vector<Usb::CalibrationPoint> points, DeviceStatusPtr status);
    std::shared_ptr<Usb::AdcChannelsManager> m_channels;
};

// "ReadExternAccCalibrationPoints": {"CalibrationPoints": [six points]}.
class ReadExternAccCalibrationPointsJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    ReadExternAccCalibrationPointsJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                              Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, std::vector<Usb::CalibrationPoint> points, DeviceStatusPtr status);
};

// "WriteExternAccDefaultCalibration": status only.
class WriteExternAccDefaultCalibrationJsonCommand
    : public StatusOnlyJsonCommand<DeviceComplexCommands::WriteExternAccDefaultCalibrationCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi
