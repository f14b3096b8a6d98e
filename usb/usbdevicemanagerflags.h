#pragma once

#include <cstdint>

namespace Tavrix::Usb {

// Behaviour switches of the device manager; only the values matter to the
// configuration that passes them.
enum class UsbDeviceManagerFlags : int32_t {
    PollCable = 0,    // poll the cable every 300 ms after the clock read
    PollCableAlt = 1, // same effect as PollCable
    NoAdcOn = 2,      // leave the signal converter off after identification
    NoClockRead = 3,  // publish the device right after its identity answer
};

} // namespace Tavrix::Usb
