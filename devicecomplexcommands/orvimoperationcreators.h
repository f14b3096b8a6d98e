#pragma once

namespace Tavrix::Usb {
class ComplexCommandFactory;
class UsbDeviceManager;
class UsbEventLoopWorker;
}

namespace Tavrix::DeviceComplexCommands {

// Registers the single-request Orvim operations, the EEPROM portion
// operations and the fixed external accelerometer frequency under their
// handler names.
class OrvimOperationCreators
{
public:
    static void registerCreators(Usb::ComplexCommandFactory& factory,
                                 Usb::UsbDeviceManager* manager,
                                 Usb::UsbEventLoopWorker* worker);
};

} // namespace Tavrix::DeviceComplexCommands
