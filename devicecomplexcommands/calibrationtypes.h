#pragma once

#include <QMetaType>
#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {

// One calibration point of a channel: a raw ADC value and what it stands for.
struct CalibrationPoint
{
    uint8_t PointIndex = 0;
    uint8_t ChannelType = 0;
    uint8_t ChannelNumber = 0;
    uint32_t AdcValue = 0;
    double PhysicalValue = 0;
    int8_t Range = 0;
    bool IsValid = true;
};

// Integer scale of one channel for the signal side.
struct CalibrationInfo
{
    int32_t clbK = 0;
    int32_t clbB = 0;
};

struct SignalLsbInfo
{
    float lsb = 1.0f;
};

// Scale of one channel from the two points of that channel
// (points[2 × channel] and points[2 × channel + 1]).
class ILsbCreator
{
public:
    virtual ~ILsbCreator() = default;
    virtual float createLsb(uint8_t channel, const std::vector<CalibrationPoint>& points) = 0;
};

class ICalibrationInfoCreator
{
public:
    virtual ~ICalibrationInfoCreator() = default;
    virtual CalibrationInfo createCalibrationInfo(uint8_t channel, const std::vector<CalibrationPoint>& points) = 0;
};

} // namespace Tavrix::Usb

namespace Tavrix::DeviceComplexCommands {

// A channel group of the recorder's calibration memory with its points,
// channel-major: point p of channel c is points[c × CalibrationPointCount + p].
struct ChannelGroupCalibrationInfo
{
    uint8_t ChannelType = 0;
    uint32_t ChannelsCount = 0;
    uint32_t CalibrationPointCount = 0;
    uint16_t BitCounts = 0;
    uint32_t DiscretPeriod = 0;
    std::vector<Usb::CalibrationPoint> points;
};

} // namespace Tavrix::DeviceComplexCommands

Q_DECLARE_METATYPE(Tavrix::Usb::CalibrationPoint)
