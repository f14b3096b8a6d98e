#include "devicewebapi/calibrationlink.h"

#include "devicecomplexcommands/calibrationcommands.h"
#include "devicewebapi/calibrationjsoncommands.h"
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

void CalibrationLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    if (Usb::ComplexCommandFactory* operations = manager->complexCommandFactory())
        DeviceComplexCommands::OperationGroupCreators::registerCalibration(*operations, manager);

    const auto channels = worker.channelsManager();
    factory.add<ReadInnerChannelsCalibrationJsonCommand>(ReadInnerChannelsCalibrationJsonCommand::createCommandDescription(),
                                                         manager, channels);
    factory.add<ReadExternAccCalibrationJsonCommand>(ReadExternAccCalibrationJsonCommand::createCommandDescription(),
                                                     manager, channels);
    factory.add<ReadExternAccCalibrationPointsJsonCommand>(
        ReadExternAccCalibrationPointsJsonCommand::createCommandDescription(), manager);
    factory.add<WriteExternAccDefaultCalibrationJsonCommand>(
        WriteExternAccDefaultCalibrationJsonCommand::createCommandDescription(), manager);
}

} // namespace Tavrix::DeviceWebApi
