#pragma once

namespace Tavrix::Usb {
class ComplexCommandFactory;
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Registers, under their handler names, the creators of the device operations
// that exist so far. The command linker calls it once at start-up.
class DeviceLinkCreators
{
public:
    static void registerDeviceLinkCreators(Usb::ComplexCommandFactory& factory, Usb::UsbDeviceManager* manager);
};

} // namespace Tavrix::DeviceComplexCommands
