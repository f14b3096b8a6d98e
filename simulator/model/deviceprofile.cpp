#include "deviceprofile.h"

namespace Tavrix::Simulator {

namespace {

// Calibration channel types: 0 ECG, 1 accelerometer, 2 battery, 3 reo,
// 7 pressure, 8 tone. Sampling periods in microseconds.
std::vector<CalibrationGroupInfo> groupsFor(bool withAd, bool withReo)
{
    std::vector<CalibrationGroupInfo> groups;
    groups.push_back({0, 8, 2, 24, 2000});
    if (withReo)
        groups.push_back({3, 2, 2, 24, 2000});
    groups.push_back({1, 3, 2, 16, 2000});
    groups.push_back({2, 1, 2, 16, 1000000});
    if (withAd) {
        groups.push_back({7, 1, 2, 24, 2000});
        groups.push_back({8, 1, 2, 24, 2000});
    }
    return groups;
}

} // namespace

DeviceProfile DeviceProfile::forType(uint16_t type)
{
    DeviceProfile p;
    switch (type) {
    case 0:
    case 21:
        p.type = 21;
        p.model = "Orvim Ferrow 8";
        p.extension = "Ferrow-8";
        p.hardwareVersion = 0x0102;
        p.softwareVersion = 0x0215;
        p.format = SignalFormat::Ferrow;
        p.hasFlash = p.hasReoPel = p.hasReo = true;
        break;
    case 22:
        p.type = 22;
        p.model = "Orvim Ferrow 8 AD";
        p.extension = "Ferrow-8AD";
        p.hardwareVersion = 0x0102;
        p.softwareVersion = 0x0215;
        p.format = SignalFormat::FerrowWithAD;
        p.hasFlash = p.hasReoPel = p.hasReo = p.hasPump = true;
        break;
    case 31:
        p.type = 31;
        p.model = "Orvim Kardio 12";
        p.extension = "Kardio-12";
        p.hardwareVersion = 0x0100;
        p.softwareVersion = 0x0107;
        p.format = SignalFormat::Ferrow;
        break;
    default:
        p.type = type;
        p.model = "Unknown";
        p.extension = "Unknown";
        p.hardwareVersion = 0x0100;
        p.softwareVersion = 0x0100;
        p.format = SignalFormat::Ferrow;
        break;
    }
    p.calibrationGroups = groupsFor(p.format == SignalFormat::FerrowWithAD, p.hasReo);
    return p;
}

} // namespace Tavrix::Simulator
