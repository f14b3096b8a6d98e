#pragma once

// What differs between the recorder types the simulator can be: identity,
// signal frame format and which request families the type has.

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Simulator {

enum class SignalFormat { Ferrow, FerrowWithAD };

struct CalibrationGroupInfo {
    uint8_t channelType = 0;
    uint8_t channelsCount = 0;
    uint8_t pointCount = 2;
    uint8_t bitCount = 24;
    uint32_t discretPeriod = 0;
};

struct DeviceProfile {
    uint16_t type = 0;
    std::string model;
    std::string extension;          // version extension text of the identity answer
    uint16_t hardwareVersion = 0;
    uint16_t softwareVersion = 0;
    SignalFormat format = SignalFormat::Ferrow;
    bool hasFlash = false;          // flash recording, read-out, exam data (0x0A-0x12, 0x17, 0x18)
    bool hasReoPel = false;         // 0x09 27, 0x0B
    bool hasPump = false;           // 0x13, 0x14
    bool hasReo = false;            // reo values in the signal frame
    std::vector<CalibrationGroupInfo> calibrationGroups;   // inner channel groups

    // The profile of a known type; any other type gets a Ferrow-like profile
    // with that type number, so the host's unknown-type path can be exercised.
    static DeviceProfile forType(uint16_t type);
    static constexpr uint16_t kDefaultType = 21;
};

} // namespace Tavrix::Simulator
