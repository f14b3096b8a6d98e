#pragma once

#include "common/datetimeobject.h"

#include <QMetaType>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

class PatientSex
{
public:
    enum ESex : uint8_t { Male = 0, Female = 1, Unknown = 2 };

    // Empty → unknown; "m"/"M"/"м" → male; "f"/"F"/"ж" → female; else unknown.
    static ESex parseSex(const std::string& text);
    // The recorder's letter (UTF-8): "м", "ж" or "?".
    static std::string toText(ESex sex);
};

// A lead set: the electrode layout of an examination.
struct ElectrodesInfo
{
    uint8_t leadType = 0;
    uint8_t flags[3] = {0, 0, 0};
    std::string displayName;
    std::vector<std::string> electrodes;
};

class ElectrodesInfoCreator
{
public:
    // The lead set of a lead-type code; empty for a code not in the table.
    static std::shared_ptr<ElectrodesInfo> create(uint8_t leadType);
    static std::vector<uint8_t> knownCodes();
};

struct ExaminationInfo
{
    std::string patientId;
    std::string name;
    std::string surname;
    std::string patronymic;
    PatientSex::ESex sex = PatientSex::Unknown;
    bool sexNotGiven = true;
    Common::DateObject birthdayDate;
    Common::DateTimeObject startTime;
    std::shared_ptr<ElectrodesInfo> electrodes;
    std::string fileName;
    uint32_t cableType = 0;
    uint32_t cableNumber = 0;
    uint32_t setupCounter = 0;
};

// The examination records of the recorder's EEPROM.
namespace ExaminationRecords {

constexpr uint16_t startTimeAddress = 0x08A0;
constexpr uint16_t mapLengthAddress = 0x0980;
constexpr uint16_t mapBlockAddress = 0x0982;
constexpr std::size_t maxMapBlockSize = 1280;
constexpr std::size_t leadBlockSize = 25;

// Seconds on the recorder's calendar (31-day months, 372-day years from
// 2000-01-01); false when the year is outside 2000–2099.
bool encodeStartTime(const Common::DateTimeObject& startTime, uint32_t& seconds);
// Start time (4 bytes LE) and the lead block; false on a year out of range.
bool startTimeAndLeadRecord(const ExaminationInfo& info, std::vector<uint8_t>& record);
std::vector<uint8_t> birthdayField(const Common::DateObject& birthday);
uint8_t flagsByte(const ExaminationInfo& info);
uint32_t checkValue(const uint8_t* bytes, std::size_t count);

} // namespace ExaminationRecords

} // namespace Tavrix::DeviceComplexCommands

Q_DECLARE_METATYPE(Tavrix::DeviceComplexCommands::ExaminationInfo)
