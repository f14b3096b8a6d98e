#include "devicecomplexcommands/examinationinfo.h"

#include "common/bytewriter.h"
#include "common/stringextensions.h"

namespace Tavrix::DeviceComplexCommands {

PatientSex::ESex PatientSex::parseSex(const std::string& text)
{
    if (text == "m" || text == "M" || text == "м")
        return Male;
    if (text == "f" || text == "F" || text == "ж")
        return Female;
    return Unknown;
}

std::string PatientSex::toText(ESex sex)
{
    switch (sex) {
    case Male:
        return "м";
    case Female:
        return "ж";
    default:
        return "?";
    }
}

namespace {

struct LeadSetRow
{
    uint8_t code;
    uint8_t flags[3];
    const char* displayName;
    std::vector<std::string> electrodes;
};

std::vector<std::string> numbered(int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i)
        names.push_back(std::to_string(i));
    return names;
}

const std::vector<LeadSetRow>& leadSets()
{
    static const std::vector<std::string> bipolar{"LR", "FR", "C1R", "C2L", "C4L", "C6F"};
    static const std::vector<LeadSetRow> rows{
        {1, {0, 1, 1}, "Станд.12отв.", {"LR", "FR", "C1R", "C2L", "C3F", "C4R", "C5L", "C6F"}},
        {3, {0, 0, 0}, "V4, Y, V6", {"V4", "Y", "V6"}},
        {4, {0, 0, 0}, "V5, Y, V1", {"V5M", "Y", "V1M"}},
        {5, {0, 0, 0}, "V4, Y, V6", {"V4", "Y", "V6"}},
        {15, {0, 0, 0}, "V5M", {"V5M"}},
        {16, {0, 0, 0}, "X, Y, Z", {"X", "Y", "Z"}},
        {17, {0, 0, 0}, "", {}},
        {18, {0, 0, 0}, "V5M(2)", {"V5M"}},
        {19, {1, 0, 0}, "Своя 1 эл", {"1"}},
        {20, {1, 0, 0}, "Своя 3x5 эл", {"1", "2", "3"}},
        {21, {1, 0, 0}, "Своя 3x7 эл", {"1", "2", "3"}},
        {22, {0, 0, 1}, "3+", bipolar},
        {23, {0, 0, 1}, "12-", bipolar},
        {24, {0, 0, 1}, "V4, Y, V6", bipolar},
        {25, {0, 0, 1}, "Станд.12отв.(моно)", {"LF", "FR", "C1L", "C2F", "C3R", "C4L", "C5R", "C6R"}},
        {30, {0, 1, 1}, "Станд.12отв.", {"L", "F", "CR1", "CR2", "CR3", "CR4", "CR5", "CR6"}},
        {31, {0, 0, 1}, "Ортог.", {"L", "F", "CR1", "CR2", "CR3", "CR4"}},
        {32, {0, 0, 1}, "Неб", {"L", "F"}},
        {33, {0, 0, 0}, "V4M, III, V6M Mono", {"V4M", "III", "V6M"}},
        {34, {0, 0, 0}, "V5, Y, V1 Mono", {"V5M", "Y", "V1M"}},
        {100, {1, 0, 0}, "Manual 16 отв", numbered(16)},
        {101, {1, 0, 0}, "Manual 24 отв", numbered(24)},
    };
    return rows;
}

} // namespace

std::shared_ptr<ElectrodesInfo> ElectrodesInfoCreator::create(uint8_t leadType)
{
    for (const LeadSetRow& row : leadSets()) {
        if (row.code != leadType)
            continue;
        auto info = std::make_shared<ElectrodesInfo>();
        info->leadType = row.code;
        std::copy(std::begin(row.flags), std::end(row.flags), info->flags);
        info->displayName = row.displayName;
        info->electrodes = row.electrodes;
        return info;
    }
    return {};
}

std::vector<uint8_t> ElectrodesInfoCreator::knownCodes()
{
    std::vector<uint8_t> codes;
    for (const LeadSetRow& row : leadSets())
        codes.push_back(row.code);
    return codes;
}

namespace ExaminationRecords {

bool encodeStartTime(const Common::DateTimeObject& startTime, uint32_t& seconds)
{
    seconds = 0;
    if (!startTime.date.isSet() && !startTime.time.isSet())
        return true;
    uint32_t days = 0;
    if (startTime.date.isSet()) {
        const int32_t year = startTime.date.year;
        if (year < 2000 || year > 2099)
            return false;
        days = static_cast<uint32_t>((year - 2000) * 372 + (startTime.date.month - 1) * 31 + (startTime.date.day - 1));
    }
    seconds = days * 86400u;
    if (startTime.time.isSet())
        seconds += startTime.time.hour * 3600u + startTime.time.minute * 60u + startTime.time.second;
    return true;
}

bool startTimeAndLeadRecord(const ExaminationInfo& info, std::vector<uint8_t>& record)
{
    uint32_t seconds = 0;
    if (!encodeStartTime(info.startTime, seconds))
        return false;
    record.clear();
    for (int i = 0; i < 4; ++i)
        record.push_back(static_cast<uint8_t>(seconds >> (8 * i)));
    const std::size_t leadStart = record.size();
    record.push_back(info.electrodes ? info.electrodes->leadType : 0);
    if (info.electrodes) {
        for (std::size_t e = 0; e < info.electrodes->electrodes.size() && e < 8; ++e) {
            std::vector<uint8_t> name = Common::StringExtensions::toWindows1251FromUtf8(info.electrodes->electrodes[e]);
            name.resize(3, 0);
            record.insert(record.end(), name.begin(), name.end());
        }
    }
    record.resize(leadStart + leadBlockSize, 0);
    return true;
}

std::vector<uint8_t> birthdayField(const Common::DateObject& birthday)
{
    if (!birthday.isSet())
        return {0, 0, 0, 0};
    return Common::ByteWriter().bcd(birthday.year / 100).bcd(birthday.year % 100).bcd(birthday.month).bcd(birthday.day).take();
}

uint8_t flagsByte(const ExaminationInfo& info)
{
    uint8_t flags = 0;
    if (info.birthdayDate.isSet())
        flags |= 0x01;
    if (info.electrodes)
        flags |= 0x02;
    if (info.startTime.date.isSet() || info.startTime.time.isSet())
        flags |= 0x04;
    if (!info.patientId.empty())
        flags |= 0x08;
    return flags;
}

uint32_t checkValue(const uint8_t* bytes, std::size_t count)
{
    uint32_t value = 1;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t b = bytes[i];
        value ^= ((b >> 4) | (b << 12)) ^ b ^ (b << 5) ^ 1u;
    }
    return value;
}

} // namespace ExaminationRecords

} // namespace Tavrix::DeviceComplexCommands
