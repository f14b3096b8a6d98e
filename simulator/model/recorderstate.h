#pragma once

// Everything a recorder remembers: identity, clock, switches, memories,
// calibration and cable. Plain data plus the conversions the control
// interface needs (setValue keys, JSON); no locking (the model locks).

#include "deviceprofile.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Simulator {

struct CalibrationPoint {
    bool valid = true;
    uint32_t adc = 0;
    int32_t physical = 0;   // 24-bit signed on the wire
    uint8_t range = 0;
};

struct CableMemory {
    uint8_t version = 1;
    uint8_t regime = 1;
    uint8_t type = 5;
    uint32_t number = 4660;
    uint32_t setupCounter = 3;
    std::array<uint8_t, 3> dateOfCreate{0x07, 0x03, 0x21};     // BCD day, month, year - 2000
    std::array<uint8_t, 3> beginUsageDate{0x15, 0x04, 0x21};
    std::array<uint8_t, 3> lastInstallDate{0x02, 0x11, 0x26};
    uint8_t hardwareVersion = 2;
    uint16_t softwareVersion = 0x0104;
    std::array<uint8_t, 12> uid{0x33, 0x00, 0x41, 0x00, 0x0C, 0x51, 0x38, 0x30, 0x36, 0x34, 0x37, 0x32};
    uint8_t uidCrc = 0;
};

class RecorderState {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kEepromSize = 4096;
    static constexpr uint16_t kDateRecordAddress = 0x040A;
    // Key of a calibration point: external flag, channel type, channel, point.
    using CalibrationKey = std::array<uint8_t, 4>;

    explicit RecorderState(uint16_t deviceType);

    // Clock: ticks with the model's time. A raw BCD override (to test the
    // host's handling of invalid clock bytes) is answered as it is and does
    // not tick, until the clock is set again.
    std::array<uint8_t, 6> clockBcd(Clock::time_point now) const;
    // Seconds since 2000-01-01 00:00:00 at `now`.
    int64_t clockSeconds(Clock::time_point now) const;
    void setClockSeconds(int64_t secondsSince2000, Clock::time_point now);
    // Makes the clock tick from `now` on, keeping its reading (the model's
    // first sight of the host's time).
    void startClock(Clock::time_point now) { m_clockSetAt = now; }
    // False (clock unchanged) when a byte is not BCD or a field is out of range.
    bool setClockFromBcd(const std::array<uint8_t, 6>& bcd, Clock::time_point now);

    // Recording makes the written range of flash grow with time.
    void advance(Clock::time_point now);
    void setRecording(bool on, Clock::time_point now);
    uint64_t writtenMaxAddress() const;   // last written byte; min when nothing is written
    bool memoryFull() const { return flashWrittenEnd >= flashMax; }
    uint8_t flashByte(uint64_t address) const;

    // Frequency in frames per second for a frequency code (2, 4, 8, 16);
    // 0 for a code outside that set.
    static uint32_t frequencyForCode(uint8_t code);
    uint32_t streamFrequency() const;

    bool eepromRead(uint32_t address, uint32_t count, std::vector<uint8_t>& out) const;
    bool eepromWrite(uint32_t address, const std::vector<uint8_t>& bytes);

    CalibrationPoint calibrationPoint(const CalibrationKey& key) const;
    bool hasCalibrationPoint(const CalibrationKey& key) const;
    void resetCalibrationDefaults();

    bool setValue(const std::string& key, const std::string& value, Clock::time_point now);
    // The state's members of the JSON object (without braces).
    std::string jsonMembers(Clock::time_point now) const;

    DeviceProfile profile;
    uint16_t hardwareVersion = 0;
    uint16_t softwareVersion = 0;
    std::string extension;

    uint16_t power = 3950;
    uint8_t frequencyCode = 4;
    uint8_t lastValidFrequencyCode = 4;
    bool recording = false;
    std::optional<uint8_t> writingStateOverride;
    bool preparedForWriting = false;
    uint8_t ecgMode = 4;        // device byte: 4 is twelve-lead
    bool reo = false;
    bool pel = false;
    bool pump = false;
    bool vent = false;
    bool adcOn = true;
    double heartRate = 72.0;
    std::size_t backlogFrames = 4000;

    uint32_t number = 20261208;
    uint16_t guiVersionHigh = 1;
    uint16_t guiVersionLow = 0x2A;
    uint16_t revision = 0x0103;
    uint16_t setupCount = 12;
    bool specialFirmware = false;
    bool flashRead = false;
    uint8_t leadType = 1;
    std::map<uint8_t, std::vector<uint8_t>> examFields;   // WriteExamInfo tag -> bytes

    // Recording area [flashMin, flashMax); flashWrittenEnd is the write pointer.
    uint64_t flashMin = 0;
    uint64_t flashMax = 0x100000;
    uint64_t flashWrittenEnd = 0x8000;
    std::map<uint64_t, uint8_t> flashOverlay;              // bytes set through setValue

    std::vector<uint8_t> eeprom;
    // Calibration clear/save and cable writes take this long to answer.
    uint32_t slowAnswerMs = 0;
    std::map<CalibrationKey, CalibrationPoint> calibration;        // working set
    std::map<CalibrationKey, CalibrationPoint> savedCalibration;   // restored by Restart

    bool cablePresent = false;
    CableMemory cable;

private:
    int64_t m_clockBase = 0;
    Clock::time_point m_clockSetAt{};
    std::optional<std::array<uint8_t, 6>> m_rawClock;
    Clock::time_point m_recordingSince{};
    uint64_t m_recordingBaseEnd = 0;
};

} // namespace Tavrix::Simulator
