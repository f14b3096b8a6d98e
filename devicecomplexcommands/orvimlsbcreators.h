#pragma once

#include "devicecomplexcommands/calibrationtypes.h"

#include <memory>

namespace Tavrix::DeviceComplexCommands {

// How one channel type turns its two points into scales. A channel whose
// points are not both valid or share one ADC value gets the defaults
// instead of a division by zero; fixed rules never look at the points.
struct ScaleRule
{
    bool fixed;
    float lsbNumerator;
    float lsbDefault;
    double clbKNumerator;
    double clbKFactor;
    int32_t clbKDefault;
};

class OrvimLsbCreator : public Usb::ILsbCreator
{
public:
    explicit OrvimLsbCreator(const ScaleRule& rule) : m_rule(rule) {}
    float createLsb(uint8_t channel, const std::vector<Usb::CalibrationPoint>& points) override;

private:
    ScaleRule m_rule;
};

class OrvimCalibrationInfoCreator : public Usb::ICalibrationInfoCreator
{
public:
    explicit OrvimCalibrationInfoCreator(const ScaleRule& rule) : m_rule(rule) {}
    Usb::CalibrationInfo createCalibrationInfo(uint8_t channel, const std::vector<Usb::CalibrationPoint>& points) override;

private:
    ScaleRule m_rule;
};

namespace ScaleRules {
extern const ScaleRule ecg;
extern const ScaleRule reo;
extern const ScaleRule externAcc;
extern const ScaleRule innerAcc;
extern const ScaleRule prs;
extern const ScaleRule ton;
extern const ScaleRule oxy;
} // namespace ScaleRules

#define DASTEL_ORVIM_SCALE_CREATORS(Type, rule)                                                          \
    class Orvim##Type##LsbCreator : public OrvimLsbCreator                                               \
    {                                                                                                    \
    public:                                                                                              \
        Orvim##Type##LsbCreator() : OrvimLsbCreator(ScaleRules::rule) {}                                 \
    };                                                                                                   \
    class Orvim##Type##CalibrationInfoCreator : public OrvimCalibrationInfoCreator                       \
    {                                                                                                    \
    public:                                                                                              \
        Orvim##Type##CalibrationInfoCreator() : OrvimCalibrationInfoCreator(ScaleRules::rule) {}         \
    };

DASTEL_ORVIM_SCALE_CREATORS(Ecg, ecg)
DASTEL_ORVIM_SCALE_CREATORS(Reo, reo)
DASTEL_ORVIM_SCALE_CREATORS(ExternAcc, externAcc)
DASTEL_ORVIM_SCALE_CREATORS(InnerAcc, innerAcc)
DASTEL_ORVIM_SCALE_CREATORS(Prs, prs)
DASTEL_ORVIM_SCALE_CREATORS(Ton, ton)
DASTEL_ORVIM_SCALE_CREATORS(Oxy, oxy)

#undef DASTEL_ORVIM_SCALE_CREATORS

// For the channel manager's table of creators per channel type.
template<typename T>
std::shared_ptr<Usb::ILsbCreator> makeLsbCreator()
{
    return std::make_shared<T>();
}

template<typename T>
std::shared_ptr<Usb::ICalibrationInfoCreator> makeCalibrationInfoCreator()
{
    return std::make_shared<T>();
}

} // namespace Tavrix::DeviceComplexCommands
