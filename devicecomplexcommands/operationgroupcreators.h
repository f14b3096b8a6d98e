#pragma once

namespace Tavrix::Usb {
class ComplexCommandFactory;
class UsbDataListener;
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Registers, under their handler names, the calibration, cable, examination
// and flash operations. The command linker's group links call these.
class OperationGroupCreators
{
public:
    static void registerCalibration(Usb::ComplexCommandFactory& factory, Usb::UsbDeviceManager* manager);
    static void registerCable(Usb::ComplexCommandFactory& factory, Usb::UsbDeviceManager* manager);
    static void registerExamination(Usb::ComplexCommandFactory& factory, Usb::UsbDeviceManager* manager);
    static void registerFlash(Usb::ComplexCommandFactory& factory,
                              Usb::UsbDeviceManager* manager,
                              Usb::UsbDataListener* listener);
};

} // namespace Tavrix::DeviceComplexCommands
