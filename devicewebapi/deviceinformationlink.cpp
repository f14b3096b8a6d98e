#include "devicewebapi/deviceinformationlink.h"

#include "devicewebapi/getdeviceinfojsoncommand.h"
#include "devicewebapi/getflashmemoryinfojsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

void DeviceInformationLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    factory.add<GetDeviceInfoJsonCommand>(GetDeviceInfoJsonCommand::createCommandDescription(), manager);
    factory.add<GetFlashMemoryInfoJsonCommand>(GetFlashMemoryInfoJsonCommand::createCommandDescription(), manager);
}

} // namespace Tavrix::DeviceWebApi
