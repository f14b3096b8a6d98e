#include "devicewebapi/singlerequestoperationslink.h"

#include "devicecomplexcommands/orvimoperationcreators.h"
#include "devicewebapi/checkspecialfirmwareexistjsoncommand.h"
#include "devicewebapi/getexternaccfrequencyjsoncommand.h"
#include "devicewebapi/getfrequencyjsoncommand.h"
#include "devicewebapi/getpeljsoncommand.h"
#include "devicewebapi/getpowerjsoncommand.h"
#include "devicewebapi/getwritingstatejsoncommand.h"
#include "devicewebapi/readecgmodejsoncommand.h"
#include "devicewebapi/restartjsoncommand.h"
#include "devicewebapi/setpeljsoncommand.h"
#include "devicewebapi/setprogidjsoncommand.h"
#include "devicewebapi/settimejsoncommand.h"
#include "devicewebapi/startwritingjsoncommand.h"
#include "devicewebapi/stopwritingjsoncommand.h"
#include "devicewebapi/turnswitchjsoncommand.h"
#include "devicewebapi/writeecgmodejsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

using Usb::UsbDeviceManager;

void SingleRequestOperationsLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    UsbDeviceManager* const manager = &worker.deviceManager();
    if (Usb::ComplexCommandFactory* operations = manager->complexCommandFactory())
        DeviceComplexCommands::OrvimOperationCreators::registerCreators(*operations, manager, &worker);

    factory.add<CheckSpecialFirmwareExistJsonCommand>(CheckSpecialFirmwareExistJsonCommand::createCommandDescription(),
                                                      manager);
    factory.add<WriteEcgModeJsonCommand>(WriteEcgModeJsonCommand::createCommandDescription(), manager);
    factory.add<ReadEcgModeJsonCommand>(ReadEcgModeJsonCommand::createCommandDescription(), manager);
    factory.add<RestartJsonCommand>(RestartJsonCommand::createCommandDescription(), manager);
    factory.add<GetPowerJsonCommand>(GetPowerJsonCommand::createCommandDescription(), manager);
    factory.add<StartWritingJsonCommand>(StartWritingJsonCommand::createCommandDescription(), manager);
    factory.add<StopWritingJsonCommand>(StopWritingJsonCommand::createCommandDescription(), manager);
    factory.add<SetProgIdJsonCommand>(SetProgIdJsonCommand::createCommandDescription(), manager);
    factory.add<SetTimeJsonCommand>(SetTimeJsonCommand::createCommandDescription(), manager);
    factory.add<GetFrequencyJsonCommand>(GetFrequencyJsonCommand::createCommandDescription(), manager);
    factory.add<GetExternAccFrequencyJsonCommand>(GetExternAccFrequencyJsonCommand::createCommandDescription(), manager);
    factory.add<GetWritingStateJsonCommand>(GetWritingStateJsonCommand::createCommandDescription(), manager);
    factory.add<GetPelJsonCommand>(GetPelJsonCommand::createCommandDescription(), manager);
    factory.add<SetPelJsonCommand>(SetPelJsonCommand::createCommandDescription(), manager);
    factory.add<TurnVentJsonCommand>(TurnVentJsonCommand::createCommandDescription(), manager);
    factory.add<TurnPumpJsonCommand>(TurnPumpJsonCommand::createCommandDescription(), manager);
}

} // namespace Tavrix::DeviceWebApi
