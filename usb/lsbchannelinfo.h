#pragma once

#include <cstdint>
#include <memory>

namespace Tavrix::Usb {

class ILsbCreator;
class ICalibrationInfoCreator;

// Scale information the channel manager keeps per channel key for the
// calibration commands.
struct LsbChannelInfo
{
    uint8_t code = 0;
    uint64_t signalCount = 0;
    std::shared_ptr<ILsbCreator> lsbCreator;
    std::shared_ptr<ICalibrationInfoCreator> calibrationInfoCreator;
};

} // namespace Tavrix::Usb
