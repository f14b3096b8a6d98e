#pragma once

// The codes of the requests the Orvim operations build themselves (the ones
// the device descriptions do not hold), the first data byte that picks the
// sub-request where one code serves several, and the lengths of the answers
// the operations check. docs/protocol.md has them all.

#include <cstddef>
#include <cstdint>

namespace Tavrix::DeviceComplexCommands {

namespace RequestCode {
enum : uint8_t {
    restart = 0x06,
    recordMode = 0x07,   // data: 0 ADC off, 1 ADC on
    status = 0x09,       // data: a StatusItem
    ecgMode = 0x10,      // data: 0 read, 1 write (then the mode byte)
    number = 0x16,
    calibrationInfo = 0x1B,
    cable = 0x1E,        // data: a CableItem
    innerCalibration = 0x21,
    externalCalibration = 0x22, // data: a CalibrationItem
};
} // namespace RequestCode

namespace StatusItem {
enum : uint8_t { cableExist = 0x00, guiVersion = 0x20, reoAndPel = 0x27 };
}

// The byte of a "ReadWritingState" answer.
namespace WritingStateByte {
enum : uint8_t { notRecording = 1, recording = 2 };
}

namespace CableItem {
enum : uint8_t { version = 0x00, specialFirmware = 0x01, setupCounter = 0x06, mainInfo = 0x07, info = 0x0A, reset = 0x0B };
}

namespace CalibrationItem {
enum : uint8_t { readPoint = 0x00, writePoint = 0x01, save = 0x03, clearAll = 0x04 };
}

namespace EcgModeItem {
enum : uint8_t { read = 0x00, write = 0x01 };
}

// Whole answer frames, 0x7E to 0xBD; the "least" ones may be longer.
namespace AnswerSize {
// One result byte: ECG mode, record and ECG mode writes.
enum : std::size_t { result = 8 };
enum : std::size_t { power = 9, frequency = 9, specialFirmware = 9, cableVersion = 23 };
// Reo and pel: status flags, reo, pel; a shorter frame puts the checksum
// where pel belongs.
enum : std::size_t { reoAndPelLeast = 10, numberLeast = 11, guiVersionLeast = 12 };
enum : std::size_t { addressLeast = 15, cableExistLeast = 8, cableInfoLeast = 25 };
} // namespace AnswerSize

} // namespace Tavrix::DeviceComplexCommands
