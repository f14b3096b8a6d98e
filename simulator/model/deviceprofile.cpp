#include "deviceprofile.h"

namespace Tavrix::Simulator {

namespace {

// Channel type codes of the calibration memory: 0 ECG, 1 inner accelerometer,
// 2 external accelerometer, 3 reo, 7 pressure, 8 tone.
std::vector<CalibrationGroupInfo> ferrowGroups(bool withAd, bool withReo)
{
    std::vector<CalibrationGroupInfo> groups;
    groups.push_back({0, 8, 2, 24, 2000});
    if (withReo)
        groups.push_back({3, 2, 2, 24, 2000});
    groups.push_back({1, 3, 2, 16, 2000});
    // The external accelerometer also appears in the inner list on real
    // recorders; the host skips it there.
    groups.push_back({2, 3, 2, 16, 38462});
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
        p.extension = "QA";
        p.hardwareVersion = 0x0102;
        p.softwareVersion = 0x0307;
        p.format = SignalFormat::Ferrow;
        p.hasFlash = p.hasReoPel = p.hasReo = true;
        break;
    case 22:
        p.type = 22;
        p.model = "Orvim Ferrow 8 AD";
        p.extension = "QB";
        p.hardwareVersion = 0x0103;
        p.softwareVersion = 0x0307;
        p.format = SignalFormat::FerrowWithAD;
        p.hasFlash = p.hasReoPel = p.hasReo = p.hasPump = true;
        break;
    case 31:
        p.type = 31;
        p.model = "Orvim Kardio 12";
        p.extension = "KA";
        p.hardwareVersion = 0x0201;
        p.softwareVersion = 0x0105;
        p.format = SignalFormat::Ferrow;
        break;
    default:
        p.type = type;
        p.model = "Unknown";
        p.extension = "XX";
        p.hardwareVersion = 0x0100;
        p.softwareVersion = 0x0100;
        p.format = SignalFormat::Ferrow;
        break;
    }
    p.calibrationGroups = ferrowGroups(p.format == SignalFormat::FerrowWithAD, p.hasReo);
    return p;
}

} // namespace Tavrix::Simulator
