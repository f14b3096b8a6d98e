#pragma once

#include "devicecomplexcommands/orvimcablecommands.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "devicewebapi/singlevaluejsoncommand.h"

namespace Tavrix::DeviceWebApi {

// "ReadCableInfo": the cable memory record; dates as "yyyy-MM-dd", an invalid
// date as "0000-00-00".
class ReadCableInfoJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT
public:
    ReadCableInfoJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;
    static QString dateText(const QDate& date);

private:
    void handleAnswer(Usb::ComplexCommand* command, Usb::CableInfo info, DeviceStatusPtr status);
};

// "WriteCableInfo": the record from "data" (integers, ISO dates).
class WriteCableInfoJsonCommand : public StatusOnlyJsonCommand<DeviceComplexCommands::WriteCableInfoCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;
};

// "WriteCableSetupCounter": {"SetupCounter": n}.
class WriteCableSetupCounterJsonCommand : public StatusOnlyJsonCommand<DeviceComplexCommands::WriteCableSetupCounterCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;
};

// "ReadCableVersion": versions, the 12-byte uid as "0x.." texts, its CRC.
class ReadCableVersionJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT
public:
    ReadCableVersionJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, DeviceComplexCommands::CableVersion version, DeviceStatusPtr status);
};

class ReadCableExistJsonCommand : public SingleValueJsonCommand<Usb::ReadCableExistCommand, bool>
{
public:
    ReadCableExistJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

class GetCableLeadTypeJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetCableLeadTypeCommand, uint8_t>
{
public:
    GetCableLeadTypeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi
