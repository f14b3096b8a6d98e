#pragma once

#include "devicecomplexcommands/getwrittenflashdatacountcommand.h"
#include "devicecomplexcommands/startreceiveflashdatacommand.h"
#include "devicewebapi/singlevaluejsoncommand.h"

namespace Tavrix::DeviceWebApi {

// "GetWrittenFlashDataCount": {"DataCount": bytes written}.
class GetWrittenFlashDataCountJsonCommand
    : public SingleValueJsonCommand<DeviceComplexCommands::GetWrittenFlashDataCountCommand, uint64_t>
{
public:
    GetWrittenFlashDataCountJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                        Usb::UsbDeviceManager* manager);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

// "StartReceiveFlashData": starts the read-out; the data arrives as a file
// (see FlashReadoutStore).
class StartReceiveFlashDataJsonCommand : public StatusOnlyJsonCommand<DeviceComplexCommands::StartReceiveFlashDataCommand>
{
public:
    using StatusOnlyJsonCommand::StatusOnlyJsonCommand;
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi
