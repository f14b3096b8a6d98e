// Answers of the simulated recorder, byte for byte where the protocol fixes
// them, and against the service's length and content checks otherwise.

#include "modeltesthelpers.h"

namespace Tavrix::Simulator::Test {

namespace {

struct ExactCase {
    const char* name;
    uint16_t type;
    Bytes request;
    Bytes answer;
};

class ExactAnswers : public ::testing::TestWithParam<ExactCase> {};

TEST_P(ExactAnswers, MatchTheProtocol)
{
    const ExactCase& c = GetParam();
    RecorderModel model(c.type);
    const auto now = Clock::time_point{} + 10s;
    model.writeCommand(c.request, now);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now), c.answer) << c.name;
}

const ExactCase kExactCases[] = {
    {"Echo", 21, request(0x01, {0xDD}), {0x7E, 0x01, 0x00, 0x01, 0xDD, 0xFF, 0xFF, 0xBD}},
    {"Name 21", 21, {0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD},
     {0x7E, 0x10, 0x00, 0x02, 0x00, 0x00, 0x15, 0x00, 0x02, 0x01, 0x15, 0x02,
      'F', 'e', 'r', 'r', 'o', 'w', '-', '8', 0xFF, 0xFF, 0xBD}},
    {"Name 31", 31, {0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD},
     {0x7E, 0x11, 0x00, 0x02, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x01, 0x07, 0x01,
      'K', 'a', 'r', 'd', 'i', 'o', '-', '1', '2', 0xFF, 0xFF, 0xBD}},
    {"ReadPower 3950 mV", 21, request(0x0C), {0x7E, 0x02, 0x00, 0x0C, 0x6E, 0x0F, 0xFF, 0xFF, 0xBD}},
    {"ReadFrequency 500 Hz", 21, request(0x0D), {0x7E, 0x02, 0x00, 0x0D, 0x04, 0x00, 0xFF, 0xFF, 0xBD}},
    {"ReadDeviceState waiting", 21, request(0x0E), {0x7E, 0x01, 0x00, 0x0E, 0x01, 0xFF, 0xFF, 0xBD}},
    {"ReadWritingState dialog", 21, request(0x0F), {0x7E, 0x01, 0x00, 0x0F, 0x01, 0xFF, 0xFF, 0xBD}},
    {"ReadEcgMode", 21, request(0x10, {0, 0}), {0x7E, 0x01, 0x00, 0x10, 0x04, 0xFF, 0xFF, 0xBD}},
    {"ReadCableExist, converter on", 21, request(0x09, {0x00}), {0x7E, 0x01, 0x00, 0x09, 0x04, 0xFF, 0xFF, 0xBD}},
    {"ReadGuiVersion 1.2a", 21, request(0x09, {0x20}),
     {0x7E, 0x05, 0x00, 0x09, 0x04, 0x01, 0x00, 0x2A, 0x00, 0xFF, 0xFF, 0xBD}},
    {"ReadRevision big-endian", 21, request(0x09, {0x22}), {0x7E, 0x03, 0x00, 0x09, 0x04, 0x01, 0x03, 0xFF, 0xFF, 0xBD}},
    {"ReadMinAddress", 21, request(0x0A, {0x01}), {0x7E, 0x08, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}},
    {"ReadMaxAddress 1 MiB", 21, request(0x0A, {0x02}), {0x7E, 0x08, 0x00, 0x0A, 0, 0, 0x10, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}},
    {"ReadWrittenMaxAddress", 21, request(0x0A, {0x03}), {0x7E, 0x08, 0x00, 0x0A, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}},
    {"ReadWrittenBytesCount = write pointer", 21, request(0x0A, {0x00}),
     {0x7E, 0x08, 0x00, 0x0A, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}},
    {"StopDataReading with nothing running", 21, request(0x12), {0x7E, 0x01, 0x00, 0x12, 0x00, 0xFF, 0xFF, 0xBD}},
    {"unknown code", 21, request(0x55), {0x7E, 0x02, 0x00, 0xEE, 0x55, 0x01, 0xFF, 0xFF, 0xBD}},
    {"unknown status item", 21, request(0x09, {0x99}), {0x7E, 0x02, 0x00, 0xEE, 0x09, 0x02, 0xFF, 0xFF, 0xBD}},
    {"echo with two bytes", 21, request(0x01, {1, 2}), {0x7E, 0x02, 0x00, 0xEE, 0x01, 0x03, 0xFF, 0xFF, 0xBD}},
    {"cable memory without cable", 21, request(0x1E, {0x0A}), {0x7E, 0x02, 0x00, 0xEE, 0x1E, 0x04, 0xFF, 0xFF, 0xBD}},
    {"read-out on the cardiograph", 31, request(0x11, {0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0}),
     {0x7E, 0x02, 0x00, 0xEE, 0x11, 0x01, 0xFF, 0xFF, 0xBD}},
    {"pel on the cardiograph", 31, request(0x09, {0x27}), {0x7E, 0x02, 0x00, 0xEE, 0x09, 0x02, 0xFF, 0xFF, 0xBD}},
    {"recording on the cardiograph", 31, request(0x07, {0x02}), {0x7E, 0x01, 0x00, 0x07, 0x03, 0xFF, 0xFF, 0xBD}},
    {"pump on type 21", 21, request(0x13, {0x01}), {0x7E, 0x02, 0x00, 0xEE, 0x13, 0x01, 0xFF, 0xFF, 0xBD}},
    {"pump on type 22", 22, request(0x13, {0x01}), {0x7E, 0x01, 0x00, 0x13, 0x00, 0xFF, 0xFF, 0xBD}},
    {"EEPROM read beyond the end", 21, request(0x03, {0xF8, 0x0F, 0x00, 0x05, 0x10, 0x00}),
     {0x7E, 0x02, 0x00, 0xEE, 0x03, 0x03, 0xFF, 0xFF, 0xBD}},
    {"EEPROM read of 17 bytes", 21, request(0x03, {0x00, 0x00, 0x00, 0x05, 0x11, 0x00}),
     {0x7E, 0x02, 0x00, 0xEE, 0x03, 0x03, 0xFF, 0xFF, 0xBD}},
};

INSTANTIATE_TEST_SUITE_P(Recorder, ExactAnswers, ::testing::ValuesIn(kExactCases));

// Every request a device operation sends gets an answer that passes that
// operation's checks, on every type that has the operation.
struct ShapeCase {
    const char* name;
    Bytes request;
    std::size_t minLength;
    std::size_t maxLength;
};

const ShapeCase kCommonShapes[] = {
    {"Echo", request(0x01, {0xDD}), 8, 8},
    {"Name", {0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}, 12, 12 + 99 + 3},
    {"ReadRtc", request(0x05), 13, 13},
    {"ReadPower", request(0x0C), 9, 9},
    {"ReadFrequency", request(0x0D), 9, 9},
    {"ReadEcgMode", request(0x10, {0, 0}), 8, 8},
    {"ReadNumber", request(0x16), 11, 11},
    {"ReadGuiVersion", request(0x09, {0x20}), 12, 12},
    {"ReadRevision", request(0x09, {0x22}), 10, 10},
    {"ReadIdInv", request(0x09, {0x23}), 14, 14},
    {"ReadDeviceStateDetails", request(0x09, {0x2A}), 9, 9},
    {"ReadDeviceState", request(0x0E), 8, 8},
    {"ReadCableExist", request(0x09, {0x00}), 8, 8},
    {"ReadEeprom date", {0x7E, 0x06, 0x00, 0x03, 0x0A, 0x04, 0x00, 0x05, 0x07, 0x00, 0xFF, 0xFF, 0xBD}, 14, 14},
    {"ReadCableVersion", request(0x1E, {0x00}), 23, 23},
    {"CheckSpecialFirmwareExist", request(0x1E, {0x01}), 9, 9},
    {"ReadCableInfo", request(0x1E, {0x0A}), 28, 28},
    {"GetCalibrationInfo", request(0x1B), 9, 1000},
    {"ReadCalibrationPoint inner", request(0x21, {0x00, 0x00, 0x07, 0x01}), 17, 17},
    {"ReadCalibrationPoint external", request(0x22, {0x00, 0x01, 0x02, 0x01}), 17, 17},
    {"ClearAllCalibrations", request(0x22, {0x04}), 8, 8},
    {"SaveCalibrationPoints", request(0x22, {0x03}), 8, 8},
    {"WriteCalibrationPoint", request(0x22, {0x01, 0x01, 0x00, 0x01, 0xE8, 0x03, 0, 0, 0x01, 0, 0, 0}), 8, 8},
    {"Restart", request(0x06, {0x00, 0x08}), 8, 8},
};

const ShapeCase kFerrowShapes[] = {
    {"ReadReoAndPel", request(0x09, {0x27}), 10, 10},
    {"GetFlashState", request(0x09, {0x21}), 9, 9},
    {"ReadWritingState", request(0x0F), 8, 8},
    {"ReadMinAddress", request(0x0A, {0x01}), 15, 15},
    {"ReadMaxAddress", request(0x0A, {0x02}), 15, 15},
    {"ReadWrittenMaxAddress", request(0x0A, {0x03}), 15, 15},
    {"ReadWrittenBytesCount", request(0x0A, {0x00}), 15, 15},
    {"WriteRecordMode stop", request(0x07, {0x01}), 8, 8},
    {"WriteReoAndPel", request(0x0B, {0x27, 0x00, 0x01}), 8, 8},
    {"WriteExamInfo", request(0x17, {0x01, 'A', 'b'}), 8, 8},
    {"WriteLeadType", request(0x18, {0x03, 0x01}), 8, 8},
    {"StopDataReading", request(0x12), 8, 8},
};

void expectShapes(uint16_t type, const ShapeCase* begin, const ShapeCase* end)
{
    RecorderModel model(type);
    model.setCablePresent(true);
    const auto now = Clock::time_point{} + 10s;
    for (const ShapeCase* c = begin; c != end; ++c) {
        model.writeCommand(c->request, now);
        const Bytes answer = model.read(Endpoint::Answer, 65535, now);
        SCOPED_TRACE(std::string(c->name) + " on type " + std::to_string(type));
        ASSERT_GE(answer.size(), c->minLength);
        EXPECT_LE(answer.size(), c->maxLength);
        EXPECT_EQ(answer[0], 0x7E);
        EXPECT_EQ(answer[3], c->request[3]) << "answer code must be the request code";
        EXPECT_EQ(le(answer, 1, 2) + 7, answer.size());
        EXPECT_EQ(answer.back(), 0xBD);
    }
}

TEST(AnswerShapes, EveryTypeAnswersTheCommonRequests)
{
    for (uint16_t type : {21, 22, 31})
        expectShapes(type, std::begin(kCommonShapes), std::end(kCommonShapes));
}

TEST(AnswerShapes, RecordersWithFlashAnswerTheirRequests)
{
    for (uint16_t type : {21, 22})
        expectShapes(type, std::begin(kFerrowShapes), std::end(kFerrowShapes));
}

TEST_F(ModelTest, DateRecordPassesTheServiceCheck)
{
    const Bytes a = ask({0x7E, 0x06, 0x00, 0x03, 0x0A, 0x04, 0x00, 0x05, 0x07, 0x00, 0xFF, 0xFF, 0xBD});
    ASSERT_EQ(a.size(), 14u);
    uint8_t check = 0x33;
    for (int i = 4; i <= 9; ++i)
        check = static_cast<uint8_t>(check + a[i]);
    EXPECT_EQ(a[10], check);
    EXPECT_LE(a[5], 12);
    EXPECT_LE(a[6], 31);
}

TEST_F(ModelTest, CalibrationInfoListsTheGroupsOfTheType)
{
    const Bytes a = ask(0x1B);
    ASSERT_EQ(a.size(), 8u + 4 * 8);   // result byte, four 8-byte records
    EXPECT_EQ(a[4], 0);
    const std::vector<std::pair<int, int>> expected{{0, 8}, {3, 2}, {1, 3}, {2, 1}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(a[5 + 8 * i], expected[i].first);
        EXPECT_EQ(a[6 + 8 * i], expected[i].second);
        EXPECT_EQ(a[7 + 8 * i], 2) << "two points a channel";
    }
}

TEST(CalibrationInfo, TypesDifferInTheirGroups)
{
    auto groups = [](uint16_t type) {
        RecorderModel model(type);
        model.writeCommand(request(0x1B), Clock::time_point{});
        const Bytes a = model.read(Endpoint::Answer, 65535, Clock::time_point{});
        std::vector<int> types;
        for (std::size_t at = 5; at + 8 <= a.size() - 3; at += 8)
            types.push_back(a[at]);
        return types;
    };
    EXPECT_EQ(groups(22), (std::vector<int>{0, 3, 1, 2, 7, 8}));
    EXPECT_EQ(groups(31), (std::vector<int>{0, 1, 2}));
}

TEST(Identity, UnknownTypeStillAnswersItsNumber)
{
    RecorderModel model(99);
    model.writeCommand({0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}, Clock::time_point{});
    const Bytes a = model.read(Endpoint::Answer, 65535, Clock::time_point{});
    ASSERT_GE(a.size(), 12u);
    EXPECT_EQ(le(a, 6, 2), 99u);
}

TEST(Identity, SettingTheTypeSwapsTheWholeIdentity)
{
    RecorderModel model(21);
    ASSERT_TRUE(model.setValue("deviceType", "31"));
    model.writeCommand({0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}, Clock::time_point{});
    const Bytes a = model.read(Endpoint::Answer, 65535, Clock::time_point{});
    EXPECT_EQ(le(a, 6, 2), 31u);
    EXPECT_EQ(std::string(a.begin() + 12, a.end() - 3), "Kardio-12");
    model.writeCommand(request(0x09, {0x27}), Clock::time_point{});
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, Clock::time_point{})[3], 0xEE);
}

TEST(Identity, DefaultTypeIsTheFerrow)
{
    RecorderModel model;
    model.writeCommand({0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}, Clock::time_point{});
    EXPECT_EQ(le(model.read(Endpoint::Answer, 65535, Clock::time_point{}), 6, 2), 21u);
}

} // namespace

} // namespace Tavrix::Simulator::Test
