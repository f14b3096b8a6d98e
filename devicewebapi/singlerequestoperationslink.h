#pragma once

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// Registers the device operations for single-request device commands and their web front ends (clock, power, pel, frequency, recording, program id, restart, ECG mode, pump, vent): their complex command creators
// (through the worker's device manager) and their web commands.
class SingleRequestOperationsLink
{
public:
    static void link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);
};

} // namespace Tavrix::DeviceWebApi
