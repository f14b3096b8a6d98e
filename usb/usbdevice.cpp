#include "usb/usbdevice.h"

namespace Tavrix::Usb {

uint8_t UsbDevice::toDeviceByte(EEcgMode mode)
{
    switch (mode) {
    case EEcgMode::Mode1:
        return 4;
    case EEcgMode::Mode2:
        return 2;
    case EEcgMode::Mode3:
        return 3;
    case EEcgMode::Mode4:
        return 1;
    default:
        return 0;
    }
}

UsbDevice::EEcgMode UsbDevice::fromDeviceByte(uint8_t byte)
{
    switch (byte) {
    case 1:
        return EEcgMode::Mode4;
    case 2:
        return EEcgMode::Mode2;
    case 3:
        return EEcgMode::Mode3;
    case 4:
        return EEcgMode::Mode1;
    default:
        return EEcgMode::NotSet;
    }
}

uint8_t UsbDevice::ecgSignalCount(EEcgMode mode)
{
    switch (mode) {
    case EEcgMode::Mode2:
    case EEcgMode::Mode3:
        return 3;
    case EEcgMode::Mode4:
        return 1;
    default:
        return 8;
    }
}

void UsbDevice::registerMetaType()
{
    qRegisterMetaType<EEcgMode>("UsbDevice::EEcgMode");
}

} // namespace Tavrix::Usb
