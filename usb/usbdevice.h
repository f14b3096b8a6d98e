#pragma once

#include <QMetaType>
#include <cstdint>

namespace Tavrix::Usb {

// Vocabulary of the recorder itself, shared by the device manager and the
// operations that read or write its state.
class UsbDevice
{
public:
    // ECG lead mode as the service counts it. The recorder numbers the same
    // modes differently on the wire (see toDeviceByte / fromDeviceByte).
    enum class EEcgMode : uint8_t { NotSet = 0, Mode1 = 1, Mode2 = 2, Mode3 = 3, Mode4 = 4 };

    // Mode 1..4 travel as the bytes 4, 2, 3, 1; anything else as 0.
    static uint8_t toDeviceByte(EEcgMode mode);
    // Inverse of toDeviceByte; a byte outside 1..4 gives NotSet.
    static EEcgMode fromDeviceByte(uint8_t byte);
    // ECG signals the recorder sends in the given mode.
    static uint8_t ecgSignalCount(EEcgMode mode);
    // Registers EEcgMode for queued signals.
    static void registerMetaType();
};

} // namespace Tavrix::Usb

Q_DECLARE_METATYPE(Tavrix::Usb::UsbDevice::EEcgMode)
