#pragma once

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// Registers the device operations for examination information and EEPROM records: their complex command creators
// (through the worker's device manager) and their web commands.
class ExaminationLink
{
public:
    static void link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);
};

} // namespace Tavrix::DeviceWebApi
