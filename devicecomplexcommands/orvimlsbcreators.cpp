#include "devicecomplexcommands/orvimlsbcreators.h"

namespace Tavrix::DeviceComplexCommands {

namespace ScaleRules {
const ScaleRule ecg{false, 10.0f, 1.0f, 10.0, 1000.0 * 1000.0, 1};
const ScaleRule reo{false, 1000.0f, 1.0f, 1000000.0, 1000.0, 1000};
const ScaleRule externAcc{false, 1.0f, 0.001f, 1000.0, 1000.0, 1000};
const ScaleRule innerAcc{false, 1.0f, 0.001f, 1000.0, 1000.0, 1000};
const ScaleRule prs{true, 0, 1.0f, 0, 0, 1};
const ScaleRule ton{true, 0, -1000.0f, 0, 0, -1000000};
const ScaleRule oxy{true, 0, -1000.0f, 0, 0, -1000000};
} // namespace ScaleRules

namespace {
// The ADC difference of the channel's two points; false when unusable.
bool adcDifference(uint8_t channel, const std::vector<Usb::CalibrationPoint>& points, int64_t& d)
{
    const std::size_t first = 2u * channel;
    if (first + 1 >= points.size())
        return false;
    const auto& p0 = points[first];
    const auto& p1 = points[first + 1];
    if (!p0.IsValid || !p1.IsValid || p0.AdcValue == p1.AdcValue)
        return false;
    d = static_cast<int64_t>(p1.AdcValue) - static_cast<int64_t>(p0.AdcValue);
    return true;
}
} // namespace

float OrvimLsbCreator::createLsb(uint8_t channel, const std::vector<Usb::CalibrationPoint>& points)
{
    int64_t d = 0;
    if (m_rule.fixed || !adcDifference(channel, points, d))
        return m_rule.lsbDefault;
    return m_rule.lsbNumerator / static_cast<float>(d);
}

Usb::CalibrationInfo OrvimCalibrationInfoCreator::createCalibrationInfo(uint8_t channel,
                                                                       const std::vector<Usb::CalibrationPoint>& points)
{
    Usb::CalibrationInfo info;
    int64_t d = 0;
    if (m_rule.fixed || !adcDifference(channel, points, d))
        info.clbK = m_rule.clbKDefault;
    else
        info.clbK = static_cast<int32_t>((m_rule.clbKNumerator / static_cast<double>(d)) * m_rule.clbKFactor);
    return info;
}

} // namespace Tavrix::DeviceComplexCommands
