#include "devicewebapi/calibrationlink.h"

#include "net/webapi/jsoncommandfactory.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

void CalibrationLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    // Filled as the operations of this group are built.
    (void)worker;
    (void)factory;
}

} // namespace Tavrix::DeviceWebApi
