#include "operationsfixture.h"

#include "devicecomplexcommands/calibrationcommands.h"
#include "devicecomplexcommands/orvimcablecommands.h"
#include "devicecomplexcommands/orvimlsbcreators.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Tavrix;
using namespace Tavrix::DeviceComplexCommands;
using Tavrix::Testing::Bytes;
using Tavrix::Testing::frame;
using Tavrix::Testing::resultFrame;
using Usb::DeviceCommand::EStatus;

namespace {

class CableAndCalibration : public Tavrix::Testing::OperationsFixture
{
protected:
};

Bytes cableInfoAnswer(uint8_t type, const Bytes& dates)
{
    Bytes data{0x00, 0x01, 0x01, type, 0x34, 0x12, 0, 0, 0x03, 0, 0, 0};
    data.insert(data.end(), dates.begin(), dates.end());
    return frame(0x1E, data);
}

TEST_F(CableAndCalibration, CableWriteSendsItsThreeFramesThenWaitsForTheCable)
{
    Usb::CableInfo info;
    info.cableNumber = 4660;
    info.cableType = 5;
    info.cableRegime = 1;
    info.setupCounter = 300;
    info.dateOfCreate = QDate(2021, 3, 7);
    auto command = create<WriteCableInfoCommand>(
        "WriteCableInfo", std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, Usb::CableInfo>>(1, info));
    ASSERT_TRUE(command);
    std::vector<EStatus> answers;
    QObject::connect(command.get(), &WriteCableInfoCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status->status); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    EXPECT_EQ(sent(), (Bytes{0x7E, 0x0A, 0x00, 0x1E, 0x07, 0x01, 0x05, 0x34, 0x12, 0x00, 0x00, 0x07, 0x03, 0x21,
                             0xFF, 0xFF, 0xBD}));
    answer(resultFrame(0x1E));
    EXPECT_EQ(sent(), (Bytes{0x7E, 0x05, 0x00, 0x1E, 0x06, 0x2C, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xBD}));
    answer(resultFrame(0x1E));
    EXPECT_EQ(sent(), (Bytes{0x7E, 0x01, 0x00, 0x1E, 0x0B, 0xFF, 0xFF, 0xBD}));
    QElapsedTimer clock;
    clock.start();
    answer(resultFrame(0x1E));
    EXPECT_TRUE(answers.empty()); // the cable restarts first
    EXPECT_TRUE(QTest::qWaitFor([&answers] { return !answers.empty(); }, 4000));
    EXPECT_GE(clock.elapsed(), 2000);
    ASSERT_EQ(answers, std::vector<EStatus>{Usb::DeviceCommand::OK});
}

TEST_F(CableAndCalibration, CableWriteStopsAtTheFirstFailure)
{
    auto command = create<WriteCableSetupCounterCommand>(
        "WriteCableSetupCounter", std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, unsigned>>(1, 7u));
    ASSERT_TRUE(command);
    std::vector<EStatus> answers;
    QObject::connect(command.get(), &WriteCableSetupCounterCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status->status); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    fail(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    EXPECT_EQ(answers, std::vector<EStatus>{Usb::DeviceCommand::DEVICE_DISCONNECTED});
    EXPECT_TRUE(inFlight().empty());
}

TEST_F(CableAndCalibration, CableRecordDecodesAndLeadTypeFollowsTheCableTable)
{
    struct Case
    {
        uint8_t type;
        EStatus status;
        uint8_t leadType;
    };
    for (const Case c : {Case{5, Usb::DeviceCommand::OK, 31}, Case{0, Usb::DeviceCommand::BAD_DATA, 0}, Case{9, Usb::DeviceCommand::BAD_DATA, 0},
                         Case{77, Usb::DeviceCommand::BAD_DATA, 0}}) {
        auto command = create<GetCableLeadTypeCommand>("GetCableLeadType");
        ASSERT_TRUE(command);
        std::vector<std::pair<uint8_t, EStatus>> answers;
        QObject::connect(command.get(), &GetCableLeadTypeCommand::answerIsReady,
                         [&answers](Usb::ComplexCommand*, uint8_t lead, auto status) {
                             answers.emplace_back(lead, status->status);
                         });
        ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
        answer(cableInfoAnswer(c.type, Bytes(9, 0xFF)));
        ASSERT_EQ(answers.size(), 1u) << int(c.type);
        EXPECT_EQ(answers[0], std::make_pair(c.leadType, c.status)) << int(c.type);
    }

    const Usb::CableInfo info = OrvimReadCableInfoCommand::decode(
        cableInfoAnswer(5, {0x07, 0x03, 0x21, 0xFF, 0xFF, 0xFF, 0x02, 0x11, 0xA6}));
    EXPECT_EQ(info.cableNumber, 4660u);
    EXPECT_EQ(info.setupCounter, 3u);
    EXPECT_EQ(info.dateOfCreate, QDate(2021, 3, 7));
    EXPECT_FALSE(info.beginUsageDate.isValid());
    EXPECT_EQ(info.lastInstallDate, QDate(2255, 11, 2));
}

TEST_F(CableAndCalibration, CalibrationPointAnswers)
{
    struct Case
    {
        const char* label;
        Bytes answer;
        EStatus status;
        double physical;
        bool valid;
    };
    const std::vector<Case> cases{
        {"minusOne", frame(0x22, {0, 1, 0xE8, 3, 0, 0, 0xFF, 0xFF, 0xFF, 0}), Usb::DeviceCommand::OK, -1, true},
        {"mostNegative", frame(0x22, {0, 1, 0, 0, 0, 0, 0x00, 0x00, 0x80, 0}), Usb::DeviceCommand::OK, -8388608, true},
        {"notCalibrated", frame(0x22, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0}), Usb::DeviceCommand::OK, 1, false},
        {"tooShort", Bytes{0x7E, 0x06, 0x00, 0x22, 0, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}, Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0, true},
        // One data byte short: 16 bytes, long enough to index byte 13, which is
        // then the checksum. Taken as a point it read as range -1.
        {"oneByteShort", frame(0x22, {0, 1, 0xE8, 3, 0, 0, 1, 0, 0}), Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0, true},
        {"refused", frame(0xEE, {0x22, 0x04}), Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0, true},
    };
    for (const Case& c : cases) {
        auto command = std::make_shared<ReadCalibrationPointCommand>(1, 1, 1, 2, true, manager->queue());
        std::vector<std::pair<Usb::CalibrationPoint, EStatus>> answers;
        QObject::connect(command.get(), &ReadCalibrationPointCommand::answerIsReady,
                         [&answers](Usb::ComplexCommand*, Usb::CalibrationPoint point, auto status) {
                             answers.emplace_back(point, status->status);
                         });
        ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
        EXPECT_EQ(sent(), (Bytes{0x7E, 0x04, 0x00, 0x22, 0x00, 0x01, 0x02, 0x01, 0xFF, 0xFF, 0xBD}));
        answer(c.answer);
        ASSERT_EQ(answers.size(), 1u) << c.label;
        EXPECT_EQ(answers[0].second, c.status) << c.label;
        EXPECT_EQ(answers[0].first.PhysicalValue, c.physical) << c.label;
        EXPECT_EQ(answers[0].first.IsValid, c.valid) << c.label;
        EXPECT_EQ(answers[0].first.ChannelNumber, 2) << c.label;
    }
}

TEST_F(CableAndCalibration, DefaultExternalCalibrationIsClearSixPointsSave)
{
    auto command = create<WriteExternAccDefaultCalibrationCommand>("WriteExternAccDefaultCalibration");
    ASSERT_TRUE(command);
    std::vector<EStatus> answers;
    QObject::connect(command.get(), &WriteExternAccDefaultCalibrationCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status->status); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    std::vector<Bytes> requests;
    std::vector<std::string> names;
    while (!inFlight().empty()) {
        names.push_back(inFlight());
        requests.push_back(sent());
        answer(resultFrame(0x22));
    }
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names.front(), "ClearAllCalibrations");
    EXPECT_EQ(names.back(), "SaveCalibrationPoints");
    EXPECT_EQ(requests[1], (Bytes{0x7E, 0x0C, 0x00, 0x22, 0x01, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xBD}));
    EXPECT_EQ(requests[6], (Bytes{0x7E, 0x0C, 0x00, 0x22, 0x01, 1, 2, 1, 0xE8, 3, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xBD}));
    EXPECT_EQ(answers, std::vector<EStatus>{Usb::DeviceCommand::OK});
}

TEST_F(CableAndCalibration, InnerCalibrationReadsTheWantedGroupsPointByPoint)
{
    auto command = create<ReadInnerChannelsCalibrationCommand>("ReadInnerChannelsCalibration");
    ASSERT_TRUE(command);
    std::vector<CalibrationGroups> answers;
    QObject::connect(command.get(), &ReadInnerChannelsCalibrationCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, CalibrationGroups groups, auto status) {
                         EXPECT_EQ(status->status, Usb::DeviceCommand::OK);
                         answers.push_back(groups);
                     });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    // ECG 1 channel, battery (skipped), reo 1 channel; two points each.
    answer(frame(0x1B, {0x00, 0, 1, 2, 24, 0xE8, 3, 0, 0, 2, 1, 2, 16, 0, 0, 0, 0, 3, 1, 2, 24, 0xE8, 3, 0, 0}));
    int points = 0;
    while (!inFlight().empty()) {
        const Bytes request = sent();
        const uint32_t adc = request[7] == 0 ? 100 : 1100;
        answer(frame(0x21, {0, 1, uint8_t(adc), uint8_t(adc >> 8), 0, 0, 0, 0, 0, 0}));
        ++points;
    }
    EXPECT_EQ(points, 4);
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0].size(), 2u);
    EXPECT_EQ(answers[0][0]->ChannelType, 0);
    EXPECT_EQ(answers[0][1]->ChannelType, 3);
    OrvimEcgLsbCreator lsb;
    OrvimEcgCalibrationInfoCreator clb;
    EXPECT_FLOAT_EQ(lsb.createLsb(0, answers[0][0]->points), 0.01f);
    EXPECT_EQ(clb.createCalibrationInfo(0, answers[0][0]->points).clbK, 10000);
}

// A table that asks for more reads than any recorder has points is refused
// before a single read; one at the bound is read in full.
TEST_F(CableAndCalibration, InnerCalibrationTableIsBoundedInPoints)
{
    struct Case
    {
        const char* name;
        Bytes records; // type, channels, points, bits, period (4)
        EStatus status;
        std::size_t reads;
    };
    const Case cases[] = {
        {"32 x 32 points, the bound", {0, 32, 32, 24, 0xE8, 3, 0, 0}, Usb::DeviceCommand::OK, 1024},
        {"one point over, in a second group",
         {0, 32, 32, 24, 0xE8, 3, 0, 0, 3, 1, 1, 24, 0xE8, 3, 0, 0},
         Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0},
        {"255 x 255 points", {0, 255, 255, 24, 0xE8, 3, 0, 0}, Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0},
        {"many full groups",
         [] {
             Bytes records;
             for (int i = 0; i < 100; ++i)
                 records.insert(records.end(), {3, 255, 255, 24, 0xE8, 3, 0, 0});
             return records;
         }(),
         Usb::DeviceCommand::WRONG_FRAME_FORMAT, 0},
        {"unwanted types do not count", {2, 255, 255, 24, 0xE8, 3, 0, 0, 0, 1, 2, 24, 0xE8, 3, 0, 0},
         Usb::DeviceCommand::OK, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto command = create<ReadInnerChannelsCalibrationCommand>("ReadInnerChannelsCalibration");
        ASSERT_TRUE(command);
        std::vector<EStatus> statuses;
        std::size_t points = 0;
        QObject::connect(command.get(), &ReadInnerChannelsCalibrationCommand::answerIsReady,
                         [&](Usb::ComplexCommand*, CalibrationGroups groups, auto status) {
                             statuses.push_back(EStatus(status->status));
                             for (const auto& group : groups)
                                 points += group->points.size();
                         });
        ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
        Bytes data{0x00};
        data.insert(data.end(), c.records.begin(), c.records.end());
        answer(frame(0x1B, data));
        std::size_t reads = 0;
        while (!inFlight().empty()) {
            sent();
            answer(frame(0x21, {0, 1, 100, 0, 0, 0, 0, 0, 0, 0}));
            ++reads;
        }
        EXPECT_EQ(reads, c.reads);
        EXPECT_EQ(statuses, std::vector<EStatus>{c.status});
        EXPECT_EQ(points, c.reads);
    }
}

TEST(ScaleCreators, UnusablePointsGiveTheDefaultScale)
{
    const std::vector<Usb::CalibrationPoint> same{{0, 0, 0, 500, 0, 0, true}, {1, 0, 0, 500, 1, 0, true}};
    const std::vector<Usb::CalibrationPoint> invalid{{0, 0, 0, 0, 0, 0, false}, {1, 0, 0, 1000, 1, 0, true}};
    const std::vector<Usb::CalibrationPoint> good{{0, 1, 0, 0, 0, 0, true}, {1, 1, 0, 1000, 1, 0, true}};
    EXPECT_FLOAT_EQ(OrvimEcgLsbCreator().createLsb(0, same), 1.0f);
    EXPECT_EQ(OrvimEcgCalibrationInfoCreator().createCalibrationInfo(0, same).clbK, 1);
    EXPECT_EQ(OrvimReoCalibrationInfoCreator().createCalibrationInfo(0, invalid).clbK, 1000);
    EXPECT_EQ(OrvimExternAccCalibrationInfoCreator().createCalibrationInfo(0, good).clbK, 1000);
    EXPECT_FLOAT_EQ(OrvimInnerAccLsbCreator().createLsb(0, good), 0.001f);
    EXPECT_FLOAT_EQ(OrvimExternAccLsbCreator().createLsb(5, good), 0.001f); // no points for channel 5
    EXPECT_EQ(OrvimTonCalibrationInfoCreator().createCalibrationInfo(0, good).clbK, -1000000);
    EXPECT_FLOAT_EQ(OrvimPrsLsbCreator().createLsb(0, good), 1.0f);
}

} // namespace
