#include "devicewebapi/examinationlink.h"

#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"
#include "devicewebapi/examinationjsoncommands.h"
#include "devicecomplexcommands/operationgroupcreators.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

using namespace DeviceComplexCommands;

void ExaminationLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    if (Usb::ComplexCommandFactory* operations = manager->complexCommandFactory())
        DeviceComplexCommands::OperationGroupCreators::registerExamination(*operations, manager);
    factory.add<SetExaminationInfoJsonCommand>(SetExaminationInfoJsonCommand::createCommandDescription(), manager);
    factory.add<GetExamFileNameJsonCommand>(GetExamFileNameJsonCommand::createCommandDescription(), manager);
}

} // namespace Tavrix::DeviceWebApi
