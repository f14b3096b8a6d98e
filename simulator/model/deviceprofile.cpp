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

// The types the simulator plays; the first is also type 0's.
struct KnownType
{
    uint16_t type;
    const char* model;
    const char* extension;
    uint16_t hardwareVersion;
    uint16_t softwareVersion;
    SignalFormat format;
    bool hasFlash;
    bool hasReoPel;
    bool hasPump;
    bool hasReo;
};

const KnownType knownTypes[] = {
    // type, model, extension, hardware and software versions, signal format,
    // then flash, reo and pel, pump, reo in the signal frame
    {21, "Orvim Ferrow 8", "Ferrow-8", 0x0102, 0x0215, SignalFormat::Ferrow, true, true, false, true},
    {22, "Orvim Ferrow 8 AD", "Ferrow-8AD", 0x0102, 0x0215, SignalFormat::FerrowWithAD, true, true, true, true},
    {31, "Orvim Kardio 12", "Kardio-12", 0x0100, 0x0107, SignalFormat::Ferrow, false, false, false, false},
};

} // namespace

DeviceProfile DeviceProfile::forType(uint16_t type)
{
    KnownType known{type, "Unknown", "Unknown", 0x0100, 0x0100, SignalFormat::Ferrow, false, false, false, false};
    const uint16_t wanted = type == 0 ? knownTypes[0].type : type;
    for (const KnownType& row : knownTypes)
        if (row.type == wanted)
            known = row;
    DeviceProfile p;
    p.type = known.type;
    p.model = known.model;
    p.extension = known.extension;
    p.hardwareVersion = known.hardwareVersion;
    p.softwareVersion = known.softwareVersion;
    p.format = known.format;
    p.hasFlash = known.hasFlash;
    p.hasReoPel = known.hasReoPel;
    p.hasPump = known.hasPump;
    p.hasReo = known.hasReo;
    p.calibrationGroups = groupsFor(p.format == SignalFormat::FerrowWithAD, p.hasReo);
    return p;
}

} // namespace Tavrix::Simulator
