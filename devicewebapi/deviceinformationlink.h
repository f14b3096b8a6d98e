#pragma once

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// Registers the device operations for device and memory information: their complex command creators
// (through the worker's device manager) and their web commands.
class DeviceInformationLink
{
public:
    static void link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);
};

} // namespace Tavrix::DeviceWebApi
