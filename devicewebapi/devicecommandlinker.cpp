#include "devicewebapi/devicecommandlinker.h"

#include "devicecomplexcommands/devicelinkcreators.h"
#include "devicewebapi/cableinformationlink.h"
#include "devicewebapi/calibrationlink.h"
#include "devicewebapi/deviceinformationlink.h"
#include "devicewebapi/examinationlink.h"
#include "devicewebapi/flashdatalink.h"
#include "devicewebapi/getcmdlistjsoncommand.h"
#include "devicewebapi/gettimejsoncommand.h"
#include "devicewebapi/signalrecordinglink.h"
#include "devicewebapi/singlerequestoperationslink.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

void DeviceCommandLinker::createLink(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    if (Usb::ComplexCommandFactory* complexFactory = manager->complexCommandFactory())
        DeviceComplexCommands::DeviceLinkCreators::registerDeviceLinkCreators(*complexFactory, manager);

    factory.add<GetCmdListJsonCommand>(GetCmdListJsonCommand::createCommandDescription(), &factory);
    factory.add<GetTimeJsonCommand>(GetTimeJsonCommand::createCommandDescription(), manager);

    SingleRequestOperationsLink::link(worker, factory);
    DeviceInformationLink::link(worker, factory);
    CalibrationLink::link(worker, factory);
    CableInformationLink::link(worker, factory);
    ExaminationLink::link(worker, factory);
    FlashDataLink::link(worker, factory);
    SignalRecordingLink::link(worker, factory);
}

} // namespace Tavrix::DeviceWebApi
