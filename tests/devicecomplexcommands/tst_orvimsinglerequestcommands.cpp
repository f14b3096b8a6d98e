#include "orvimrecorderfixture.h"

#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/getexternaccfrequencycommand.h"
#include "devicecomplexcommands/orvimfixedframecommands.h"
#include "devicewebapi/operationbindings.h"
#include "devicecomplexcommands/orvimsinglerequestcommands.h"
#include "devicecomplexcommands/orvimwriteecgmodecommand.h"
#include "devicecomplexcommands/getdatafromeepromcommand.h"
#include "devicecomplexcommands/setdatatoeepromcommand.h"
#include "devicecomplexcommands/setprogidcommand.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/devicecommandstatusinfo.h"

#include <functional>
#include <tuple>

using namespace OrvimTesting;
using namespace Tavrix::DeviceComplexCommands;
using Tavrix::Usb::DeviceCommand::EStatus;
namespace DeviceCommand = Tavrix::Usb::DeviceCommand;
using Tavrix::Usb::UsbDevice;

namespace {

// What one operation answered.
template<typename... R>
struct Outcome
{
    int answers = 0;
    std::tuple<R...> values;
    std::shared_ptr<Tavrix::Usb::DeviceCommandStatus> status;

    EStatus code() const { return status ? status->status : DeviceCommand::UNKNOWN_ERROR; }
};

class OrvimOperationsTest : public OrvimRecorderFixture
{
protected:
    void registerOperations() override
    {
        Tavrix::DeviceWebApi::registerOperations(factory, manager.get());
        // The signal stream is what the test says it is.
        factory.add("OrvimWriteEcgMode",
                    std::make_shared<Tavrix::Usb::ComplexMultidataCommandCreator<
                        OrvimWriteEcgModeCommand, 2, unsigned, UsbDevice::EEcgMode, Tavrix::Usb::ByteCommandQueue*,
                        std::function<bool()>>>(manager->queue(), std::function<bool()>([this] { return streaming; })));
    }

    // Creates the operation bound to `name` for the identified recorder,
    // records its answer and executes it.
    template<typename Op, typename... R>
    std::shared_ptr<Op> run(const std::string& name,
                            std::shared_ptr<Tavrix::Usb::IComplexCommandCreateData> createData,
                            Outcome<R...>& outcome)
    {
        auto command = create<Op>(name, std::move(createData));
        if (!command)
            return command;
        QObject::connect(command.get(), &Op::answerIsReady,
                         [&outcome](Tavrix::Usb::ComplexCommand*, R... values,
                                    std::shared_ptr<Tavrix::Usb::DeviceCommandStatus> status) {
                             ++outcome.answers;
                             outcome.values = std::make_tuple(values...);
                             outcome.status = status;
                         });
        const auto started = command->execute();
        EXPECT_EQ(started->status, DeviceCommand::OK) << name;
        return command;
    }

    static Bytes carriedAnswer(const std::shared_ptr<Tavrix::Usb::DeviceCommandStatus>& status)
    {
        const auto info = std::dynamic_pointer_cast<Tavrix::Usb::DeviceCommandStatusInfo<Bytes>>(status);
        return info ? info->info : Bytes{};
    }

public:
    // Runs an operation without arguments whose one result reads as a number.
    // Public: the table below takes its address, which a protected member
    // of the fixture does not allow from the test body.
    template<typename Op, typename R>
    std::shared_ptr<Outcome<int>> runAsNumber(const std::string& name)
    {
        auto out = std::make_shared<Outcome<int>>();
        auto command = create<Op>(name, noData());
        if (!command)
            return out;
        QObject::connect(command.get(), &Op::answerIsReady,
                         [out](Tavrix::Usb::ComplexCommand*, R value,
                               std::shared_ptr<Tavrix::Usb::DeviceCommandStatus> status) {
                             ++out->answers;
                             out->values = std::make_tuple(int(value));
                             out->status = status;
                         });
        EXPECT_EQ(command->execute()->status, DeviceCommand::OK);
        m_keep = command;
        return out;
    }

    bool streaming = true;
    std::shared_ptr<Tavrix::Usb::ComplexCommand> m_keep;
};

struct NumberCase
{
    const char* label;
    Bytes answer;
    EStatus status;
    int value;
};

struct NumberOperation
{
    const char* name;
    Bytes request;
    std::shared_ptr<Outcome<int>> (OrvimOperationsTest::*run)(const std::string&);
    std::vector<NumberCase> cases;
};

// Each operation's request, and how its answer's shape and content decide
// the result.
TEST_F(OrvimOperationsTest, NumberOperationsDecodeOrRejectTheirAnswers)
{
    const std::vector<NumberOperation> operations = {
        {"GetPower", {0x7E, 0x00, 0x00, 0x0C, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<GetPowerCommand, uint16_t>,
         {{"millivolts", frame(0x0C, {0x6E, 0x0F}), DeviceCommand::OK, 3950},
          {"short", frame(0x0C, {0x6E}), DeviceCommand::WRONG_FRAME_FORMAT, 0},
          // The refusal has the length of a power answer.
          {"refused", frame(0xEE, {0x0C, 0x03}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"GetFrequency", {0x7E, 0x00, 0x00, 0x0D, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<GetFrequencyCommand, uint16_t>,
         {{"code2", frame(0x0D, {2, 0}), DeviceCommand::OK, 250},
          {"code4", frame(0x0D, {4, 0}), DeviceCommand::OK, 500},
          {"code8", frame(0x0D, {8, 0}), DeviceCommand::OK, 1000},
          {"code16", frame(0x0D, {16, 0}), DeviceCommand::OK, 2000},
          {"code3", frame(0x0D, {3, 0}), DeviceCommand::WRONG_FRAME_FORMAT, 0},
          {"long", frame(0x0D, {4, 0, 0}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"GetWritingState", {0x7E, 0x00, 0x00, 0x0F, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<GetWritingStateCommand, EWritingState>,
         {{"dialog", frame(0x0F, {1}), DeviceCommand::OK, int(EWritingState::Dialog)},
          {"writing", frame(0x0F, {2}), DeviceCommand::OK, int(EWritingState::Writing)},
          {"code0", frame(0x0F, {0}), DeviceCommand::WRONG_FRAME_FORMAT, 0},
          {"code3", frame(0x0F, {3}), DeviceCommand::WRONG_FRAME_FORMAT, 0},
          {"short", frame(0x0F, {}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"BeginWriting", {0x7E, 0x01, 0x00, 0x07, 0x02, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<BeginWritingCommand, uint8_t>,
         {{"accepted", resultFrame(0x07, 0), DeviceCommand::OK, 0},
          {"lowBattery", resultFrame(0x07, 1), DeviceCommand::OK, 1},
          {"errorFrame", frame(0xEE, {0x07, 0x03}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"StopWriting", {0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<StopWritingCommand, uint8_t>,
         {{"accepted", resultFrame(0x07, 0), DeviceCommand::OK, 0}}},
        {"CheckSpecialFirmwareExist", {0x7E, 0x01, 0x00, 0x1E, 0x01, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<CheckSpecialFirmwareExistCommand, bool>,
         {{"present", frame(0x1E, {0, 1}), DeviceCommand::OK, 1},
          {"absent", frame(0x1E, {0, 0}), DeviceCommand::OK, 0},
          {"noCable", frame(0xEE, {0x1E, 0x04}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"ReadEcgMode", {0x7E, 0x02, 0x00, 0x10, 0x00, 0x00, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<Tavrix::Usb::ReadEcgModeCommand, UsbDevice::EEcgMode>,
         {{"byte1IsMode4", frame(0x10, {1}), DeviceCommand::OK, int(UsbDevice::EEcgMode::Mode4)},
          {"byte4IsMode1", frame(0x10, {4}), DeviceCommand::OK, int(UsbDevice::EEcgMode::Mode1)},
          {"byte7IsNoMode", frame(0x10, {7}), DeviceCommand::OK, 0},
          {"long", frame(0x10, {1, 0}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"ReadNumber", {0x7E, 0x00, 0x00, 0x16, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<ReadNumberCommand, uint32_t>,
         {{"number", frame(0x16, {0x78, 0x56, 0x34, 0x12}), DeviceCommand::OK, 0x12345678},
          {"short", frame(0x16, {0x78, 0x56, 0x34}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
        {"GetPel", {0x7E, 0x01, 0x00, 0x09, 0x27, 0xFF, 0xFF, 0xBD},
         &OrvimOperationsTest::runAsNumber<GetPelCommand, bool>,
         {{"pelOn", frame(0x09, {0, 0, 1}), DeviceCommand::OK, 1},
          {"pelOff", frame(0x09, {0, 1, 0}), DeviceCommand::OK, 0},
          {"short", frame(0x09, {0, 1}), DeviceCommand::WRONG_FRAME_FORMAT, 0}}},
    };
    for (const NumberOperation& op : operations) {
        for (const NumberCase& c : op.cases) {
            SCOPED_TRACE(std::string(op.name) + "/" + c.label);
            const auto out = (this->*op.run)(op.name);
            EXPECT_EQ(sent(), op.request);
            answer(c.answer);
            ASSERT_EQ(out->answers, 1);
            EXPECT_EQ(out->code(), c.status);
            EXPECT_EQ(std::get<0>(out->values), c.status == DeviceCommand::OK ? c.value : 0);
            if (c.status == DeviceCommand::WRONG_FRAME_FORMAT)
                EXPECT_EQ(carriedAnswer(out->status), c.answer);
        }
    }
}

TEST_F(OrvimOperationsTest, QueueFailuresReachTheCallerWithDefaultResults)
{
    auto timedOut = runAsNumber<GetPowerCommand, uint16_t>("GetPower");
    timeOut();
    ASSERT_EQ(timedOut->answers, 1);
    EXPECT_EQ(timedOut->code(), DeviceCommand::TIMEOUT);
    EXPECT_EQ(std::get<0>(timedOut->values), 0);

    auto lost = runAsNumber<GetFrequencyCommand, uint16_t>("GetFrequency");
    manager->queue()->handleDeviceDisconnect();
    ASSERT_EQ(lost->answers, 1);
    EXPECT_EQ(lost->code(), DeviceCommand::DEVICE_DISCONNECTED);
}

TEST_F(OrvimOperationsTest, SetTimeWritesTheClockInBcdSecondsFirst)
{
    Tavrix::Common::DateTimeObject clock;
    clock.date = {2024, 2, 29, 0};
    clock.time = {12, 34, 56, 0};
    Outcome<> out;
    auto command = run<SetTimeCommand>("SetTime", data(clock), out);
    EXPECT_EQ(sent(), frame(0x08, {0x56, 0x34, 0x12, 0x29, 0x02, 0x24}));
    answer(resultFrame(0x08, 0));
    ASSERT_EQ(out.answers, 1);
    EXPECT_EQ(out.code(), DeviceCommand::OK);
}

TEST_F(OrvimOperationsTest, SetPelReadsTheReoSwitchOnlyOnceAndKeepsIt)
{
    Outcome<> first;
    auto one = run<SetPelCommand>("SetPel", data(true), first);
    EXPECT_EQ(inFlight(), "ReadReoAndPel");
    answer(frame(0x09, {0x04, 1, 0}));
    EXPECT_EQ(inFlight(), "WriteReoAndPel");
    EXPECT_EQ(sent(), frame(0x0B, {0x27, 1, 1}));
    EXPECT_EQ(first.answers, 0);
    answer(resultFrame(0x0B, 0));
    ASSERT_EQ(first.answers, 1);
    EXPECT_EQ(first.code(), DeviceCommand::OK);

    Outcome<> second;
    auto two = run<SetPelCommand>("SetPel", data(false), second);
    EXPECT_EQ(inFlight(), "WriteReoAndPel");
    EXPECT_EQ(sent(), frame(0x0B, {0x27, 1, 0}));
    answer(resultFrame(0x0B, 0));
    EXPECT_EQ(second.answers, 1);
}

TEST_F(OrvimOperationsTest, SetPelStopsWhenTheReoSwitchCannotBeRead)
{
    Outcome<> out;
    auto command = run<SetPelCommand>("SetPel", data(true), out);
    const Bytes shortAnswer = frame(0x09, {0x04, 1});
    answer(shortAnswer);
    ASSERT_EQ(out.answers, 1);
    EXPECT_EQ(out.code(), DeviceCommand::WRONG_FRAME_FORMAT);
    EXPECT_EQ(carriedAnswer(out.status), shortAnswer);
    EXPECT_EQ(inFlight(), "");
    EXPECT_FALSE(manager->isReoStateRead());
}

TEST_F(OrvimOperationsTest, WriteEcgModeRestartsTheStreamOnlyWhenItWasRunning)
{
    for (const bool running : {true, false}) {
        SCOPED_TRACE(running ? "running" : "stopped");
        streaming = running;
        Outcome<> out;
        auto command = run<WriteEcgModeCommand>("WriteEcgMode", data(UsbDevice::EEcgMode::Mode1), out);
        EXPECT_EQ(inFlight(), "AdcOff");
        EXPECT_EQ(sent(), frame(0x07, {0x00}));
        answer(resultFrame(0x07, 0));
        EXPECT_EQ(inFlight(), "WriteEcgMode");
        EXPECT_EQ(sent(), frame(0x10, {0x01, 0x04}));
        answer(resultFrame(0x10, 0));
        if (running) {
            EXPECT_EQ(inFlight(), "AdcOn");
            EXPECT_EQ(sent(), frame(0x07, {0x01}));
            EXPECT_EQ(out.answers, 0);
            answer(resultFrame(0x07, 0));
        }
        EXPECT_EQ(inFlight(), "");
        ASSERT_EQ(out.answers, 1);
        EXPECT_EQ(out.code(), DeviceCommand::OK);
    }
}

TEST_F(OrvimOperationsTest, RefusedEcgModeIsMalformedAndLeavesTheStreamOff)
{
    Outcome<> out;
    auto command = run<WriteEcgModeCommand>("WriteEcgMode", data(UsbDevice::EEcgMode::Mode2), out);
    answer(resultFrame(0x07, 0));
    EXPECT_EQ(sent(), frame(0x10, {0x01, 0x02}));
    answer(resultFrame(0x10, 1));
    EXPECT_EQ(inFlight(), "");
    ASSERT_EQ(out.answers, 1);
    EXPECT_EQ(out.code(), DeviceCommand::WRONG_FRAME_FORMAT);
}

TEST_F(OrvimOperationsTest, SetProgIdStoresTheIdentifierAndItsComplement)
{
    Outcome<> out;
    auto command = run<SetProgIdCommand>("SetProgId", data(uint8_t(0x5A)), out);
    EXPECT_EQ(sent(), frame(0x04, {0x4D, 0x04, 0x00, 0x05, 0x5A, 0xA5}));
    answer(resultFrame(0x04, 0));
    ASSERT_EQ(out.answers, 1);
    EXPECT_EQ(out.code(), DeviceCommand::OK);
}

TEST_F(OrvimOperationsTest, EepromIsWrittenAndReadInPortionsOfSixteen)
{
    Bytes record(20);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = uint8_t(i + 1);

    Outcome<> written;
    auto write = run<SetDataToEepromCommand>("SetDataToEeprom", data(EepromDataRecord{0x00F8, record}), written);
    Bytes first{0xF8, 0x00, 0x00, 0x05};
    first.insert(first.end(), record.begin(), record.begin() + 16);
    EXPECT_EQ(sent(), frame(0x04, first));
    answer(resultFrame(0x04, 0));
    EXPECT_EQ(sent(), frame(0x04, {0x08, 0x01, 0x00, 0x05, 17, 18, 19, 20}));
    EXPECT_EQ(written.answers, 0);
    answer(resultFrame(0x04, 0));
    ASSERT_EQ(written.answers, 1);
    EXPECT_EQ(written.code(), DeviceCommand::OK);

    Outcome<Bytes> read;
    auto readBack = run<GetDataFromEepromCommand>("GetDataFromEeprom", data(uint16_t(0x0100), uint16_t(20)), read);
    EXPECT_EQ(sent(), frame(0x03, {0x00, 0x01, 0x00, 0x05, 16, 0}));
    answer(frame(0x03, Bytes(record.begin(), record.begin() + 16)));
    EXPECT_EQ(sent(), frame(0x03, {0x10, 0x01, 0x00, 0x05, 4, 0}));
    answer(frame(0x03, Bytes(record.begin() + 16, record.end())));
    ASSERT_EQ(read.answers, 1);
    EXPECT_EQ(read.code(), DeviceCommand::OK);
    EXPECT_EQ(std::get<0>(read.values), record);
}

TEST_F(OrvimOperationsTest, EepromReadRejectsAPortionOfTheWrongSize)
{
    Outcome<Bytes> read;
    auto readBack = run<GetDataFromEepromCommand>("GetDataFromEeprom", data(uint16_t(0x0FFC), uint16_t(8)), read);
    const Bytes refused = frame(0xEE, {0x03, 0x03});
    answer(refused);
    ASSERT_EQ(read.answers, 1);
    EXPECT_EQ(read.code(), DeviceCommand::WRONG_FRAME_FORMAT);
    EXPECT_TRUE(std::get<0>(read.values).empty());
    EXPECT_EQ(inFlight(), "");
}

TEST_F(OrvimOperationsTest, EepromWriteStopsAtTheFirstFailedPortion)
{
    Outcome<> written;
    auto write = run<SetDataToEepromCommand>("SetDataToEeprom", data(EepromDataRecord{0, Bytes(40, 0x11)}), written);
    answer(resultFrame(0x04, 0));
    timeOut();
    ASSERT_EQ(written.answers, 1);
    EXPECT_EQ(written.code(), DeviceCommand::TIMEOUT);
    EXPECT_EQ(inFlight(), "");
}

TEST_F(OrvimOperationsTest, RestartAndGuiVersion)
{
    Outcome<> restarted;
    auto restart = run<RestartCommand>("Restart", noData(), restarted);
    EXPECT_EQ(sent(), (Bytes{0x7E, 0x02, 0x00, 0x06, 0x00, 0x08, 0xFF, 0xFF, 0xBD}));
    answer(resultFrame(0x06, 0));
    EXPECT_EQ(restarted.code(), DeviceCommand::OK);

    Outcome<std::string> version;
    auto gui = run<ReadGuiVersionCommand>("ReadGuiVersion", noData(), version);
    EXPECT_EQ(sent(), (Bytes{0x7E, 0x01, 0x00, 0x09, 0x20, 0xFF, 0xFF, 0xBD}));
    answer(frame(0x09, {0x00, 0x01, 0x00, 0x2A, 0x00}));
    ASSERT_EQ(version.answers, 1);
    EXPECT_EQ(version.code(), DeviceCommand::OK);
    EXPECT_EQ(std::get<0>(version.values), "1.2a");

    Outcome<std::string> shortVersion;
    auto gui2 = run<ReadGuiVersionCommand>("ReadGuiVersion", noData(), shortVersion);
    answer(frame(0x09, {0x00, 0x01, 0x00, 0x2A}));
    EXPECT_EQ(shortVersion.code(), DeviceCommand::WRONG_FRAME_FORMAT);
    EXPECT_EQ(std::get<0>(shortVersion.values), "");
}

TEST_F(OrvimOperationsTest, ExternAccFrequencyAnswersInsideExecuteWithoutTraffic)
{
    Outcome<uint16_t> out;
    auto command = run<GetExternAccFrequencyCommand>("GetExternAccFrequency", noData(), out);
    EXPECT_EQ(out.answers, 1);
    EXPECT_EQ(std::get<0>(out.values), 26);
    EXPECT_EQ(inFlight(), "");
}

} // namespace
