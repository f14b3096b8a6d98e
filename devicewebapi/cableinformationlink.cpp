#include "devicewebapi/cableinformationlink.h"

#include "devicecomplexcommands/orvimcablecommands.h"
#include "devicewebapi/cablejsoncommands.h"
#include "devicecomplexcommands/operationgroupcreators.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

using namespace DeviceComplexCommands;
using Usb::ByteCommandQueue;
using Usb::ComplexDataCommandCreator;
using Usb::ComplexMultidataCommandCreator;

void CableInformationLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    if (Usb::ComplexCommandFactory* operations = manager->complexCommandFactory())
        DeviceComplexCommands::OperationGroupCreators::registerCable(*operations, manager);

    factory.add<GetCableLeadTypeJsonCommand>(GetCableLeadTypeJsonCommand::createCommandDescription(), manager);
    factory.add<ReadCableInfoJsonCommand>(ReadCableInfoJsonCommand::createCommandDescription(), manager);
    factory.add<WriteCableInfoJsonCommand>(WriteCableInfoJsonCommand::createCommandDescription(), manager);
    factory.add<WriteCableSetupCounterJsonCommand>(WriteCableSetupCounterJsonCommand::createCommandDescription(), manager);
    factory.add<ReadCableVersionJsonCommand>(ReadCableVersionJsonCommand::createCommandDescription(), manager);
    factory.add<ReadCableExistJsonCommand>(ReadCableExistJsonCommand::createCommandDescription(), manager);
}

} // namespace Tavrix::DeviceWebApi
