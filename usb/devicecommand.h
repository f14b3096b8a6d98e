#pragma once

#include <cstdint>

namespace Tavrix::Usb::DeviceCommand {

// Outcome of one device exchange; the values are passed on to web clients.
enum EStatus : uint32_t {
    OK = 0,
    UNKNOWN_ERROR = 1,
    NOT_EXIST = 2,
    BAD_DATA = 3,
    TIMEOUT = 4,
    DEVICE_DISCONNECTED = 5,
    WRONG_FRAME_FORMAT = 6,
    // Not taken: too many commands already wait for the recorder.
    BUSY = 7,
};

} // namespace Tavrix::Usb::DeviceCommand
