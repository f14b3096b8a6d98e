#include "devicewebapi/operationbindings.h"
#include "usb/adcchannelsmanager.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/devicecommandstatusinfo.h"
#include "usb/readcableexistcommand.h"
#include "usb/readecgmodecommand.h"
#include "usb/usbcontext.h"
#include "usb/usbdevicemanager.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::Usb;
using Bytes = std::vector<uint8_t>;
using Flags = std::unordered_set<UsbDeviceManagerFlags>;

namespace {

const Bytes kNameRequest{0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD};
const Bytes kReadRtcRequest{0x7E, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xBD};
const Bytes kAdcOnRequest{0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD};
const Bytes kEchoRequest{0x7E, 0x01, 0x00, 0x01, 0xDD, 0xFF, 0xFF, 0xBD};
const Bytes kRtcAnswer{0x7E, 0x06, 0x00, 0x05, 0x56, 0x34, 0x12, 0x29, 0x02, 0x24, 0xFF, 0xFF, 0xBD};

Bytes nameAnswer(uint16_t type)
{
    return {0x7E, 0x0A, 0x00, 0x02, 0x00, 0x00, uint8_t(type & 0xFF), uint8_t(type >> 8),
            0x00, 0x01, 0x03, 0x01, 'F', 'e', 0xFF, 0xFF, 0xBD};
}

class FakeChannels : public AdcChannelsManager
{
public:
    void setConnectedDeviceInfo(const DeviceInfo& info) override { published.push_back(info); }
    void restart() override {}
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, LsbChannelInfo> getSignalsLsbInfo() override { return {}; }
    std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo&) override { return {}; }
    void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint8_t count) override
    {
        ASSERT_EQ(key, (DevicesInfo::DeviceChannelTypeInfo{DevicesInfo::EChannelType::Ecg,
                                                             DevicesInfo::EChannelSource::Device}));
        ecgCounts.push_back(count);
    }

    std::vector<DeviceInfo> published;
    std::vector<uint8_t> ecgCounts;
};

// Cable operations answer on the next event-loop pass with the state the
// test sets, as a recorder would a little later.
struct CableState
{
    bool present = false;
    int polls = 0;
    UsbDevice::EEcgMode mode = UsbDevice::EEcgMode::Mode4;
};

class FakeCableExist : public ReadCableExistCommand
{
public:
    FakeCableExist(unsigned uid, CableState* state)
        : ReadCableExistCommand("ReadCableExist", uid)
        , m_state(state)
    {
    }
    std::shared_ptr<DeviceCommandStatus> execute() override
    {
        ++m_state->polls;
        const bool present = m_state->present;
        QTimer::singleShot(0, this, [this, present] {
            emit answerIsReady(this, present, std::make_shared<DeviceCommandStatus>());
        });
        return std::make_shared<DeviceCommandStatus>();
    }

private:
    CableState* m_state;
};

class FakeEcgMode : public ReadEcgModeCommand
{
public:
    FakeEcgMode(unsigned uid, CableState* state)
        : ReadEcgModeCommand("ReadEcgMode", uid)
        , m_state(state)
    {
    }
    std::shared_ptr<DeviceCommandStatus> execute() override
    {
        const auto mode = m_state->mode;
        QTimer::singleShot(0, this, [this, mode] {
            emit answerIsReady(this, mode, std::make_shared<DeviceCommandStatus>());
        });
        return std::make_shared<DeviceCommandStatus>();
    }

private:
    CableState* m_state;
};

std::unordered_map<int, DevicesInfo::DeviceCommonInfo> descriptions()
{
    DevicesInfo::DeviceCommonInfo device;
    device.type = 7;
    device.name = "TestRecorder";
    DevicesInfo::SimpleCommandInfo readRtc;
    readRtc.name = "ReadRtc";
    readRtc.code = 0x05;
    device.simpleCommands = {readRtc};
    device.complexCommands = {{"GetTime", "", "OrvimGetTime"},
                              {"ReadCableExist", "", "TestCableExist"},
                              {"ReadEcgMode", "", "TestEcgMode"}};
    return {{7, device}};
}

class UsbDeviceManagerTest : public ::testing::Test
{
protected:
    void make(const Flags& flags, bool withCableOperations = true)
    {
        manager = std::make_unique<UsbDeviceManager>(&writer, &listener, descriptions(),
                                                     std::vector<CableTypeInfo>{}, &factory, channels, flags);
        DeviceWebApi::registerOperations(factory, manager.get());
        if (withCableOperations) {
            factory.add("TestCableExist",
                        std::make_shared<ComplexDataCommandCreator<FakeCableExist, unsigned, CableState*>>(&cable));
            factory.add("TestEcgMode",
                        std::make_shared<ComplexDataCommandCreator<FakeEcgMode, unsigned, CableState*>>(&cable));
        }
        QObject::connect(manager.get(), &UsbDeviceManager::signalError,
                         [this](std::string type, std::string text) {
                             EXPECT_EQ(type, "CommandError");
                             errors.push_back(text);
                         });
        QObject::connect(manager.get(), &UsbDeviceManager::deviceIsConnected, [this] { ++connected; });
        QObject::connect(manager.get(), &UsbDeviceManager::cableIsConnected, [this] { ++cableConnected; });
        QObject::connect(manager.get(), &UsbDeviceManager::cableIsDisconnected, [this] { ++cableDisconnected; });
    }

    std::string inFlight()
    {
        const auto command = manager->queue()->currentCommand();
        return command ? command->name() : std::string();
    }

    void answer(const Bytes& bytes) { manager->queue()->handleCommandAnswerThreadSafe(bytes, 0); }

    // Name and clock answered; the device is published.
    void identify()
    {
        manager->handleDeviceConnect();
        answer(nameAnswer(7));
        answer(kRtcAnswer);
        ASSERT_EQ(connected, 1);
    }

    UsbContext context{nullptr, nullptr};
    UsbCmdWriter<4> writer{"cmd", &context};
    UsbCmdListener<133> listener{"l_cmd", &context, 65535};
    ComplexCommandFactory factory;
    std::shared_ptr<FakeChannels> channels = std::make_shared<FakeChannels>();
    CableState cable;
    std::unique_ptr<UsbDeviceManager> manager;
    std::vector<std::string> errors;
    int connected = 0;
    int cableConnected = 0;
    int cableDisconnected = 0;
};

TEST_F(UsbDeviceManagerTest, identifiesReadsClockAndSwitchesConverterOn)
{
    make({});
    manager->handleDeviceConnect();
    EXPECT_EQ(inFlight(), "Name");
    EXPECT_EQ(writer.pendingBytes(), kNameRequest);

    answer(nameAnswer(7));
    EXPECT_EQ(inFlight(), "ReadRtc");
    EXPECT_EQ(writer.pendingBytes(), kReadRtcRequest);
    EXPECT_EQ(connected, 0);
    EXPECT_FALSE(manager->isIdentified());

    answer(kRtcAnswer);
    EXPECT_EQ(connected, 1);
    EXPECT_TRUE(manager->isIdentified());
    EXPECT_EQ(inFlight(), "AdcOn");
    EXPECT_EQ(writer.pendingBytes(), kAdcOnRequest);

    const DeviceInfo& info = manager->connectedDeviceInfo();
    EXPECT_EQ(info.type, 7);
    EXPECT_EQ(info.name, "TestRecorder");
    EXPECT_EQ(info.hardwareVersion, 0x0100);
    EXPECT_EQ(info.softwareVersion, 0x0103);
    EXPECT_EQ(info.dateTime.toString(), "2024-02-29 12:34:56");
    ASSERT_EQ(channels->published.size(), 1u);
    EXPECT_EQ(channels->published[0].dateTime, info.dateTime);
    EXPECT_TRUE(errors.empty());
}

TEST_F(UsbDeviceManagerTest, flagTwoLeavesConverterOffAndDoesNotPoll)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    identify();
    EXPECT_EQ(inFlight(), "");
    QTest::qWait(700); // more than two poll periods
    EXPECT_EQ(cable.polls, 0);
    EXPECT_EQ(inFlight(), "");
    EXPECT_TRUE(errors.empty());
}

TEST_F(UsbDeviceManagerTest, flagThreePublishesRightAfterIdentity)
{
    make({UsbDeviceManagerFlags::NoClockRead});
    manager->handleDeviceConnect();
    answer(nameAnswer(7));
    EXPECT_EQ(connected, 1);
    EXPECT_TRUE(manager->isIdentified());
    EXPECT_EQ(inFlight(), "");
    EXPECT_FALSE(manager->connectedDeviceInfo().dateTime.isSet());
    EXPECT_EQ(channels->published.size(), 1u);
    QTest::qWait(400);
    EXPECT_EQ(cable.polls, 0);
}

TEST_F(UsbDeviceManagerTest, unknownTypeStillConnectsWithEmptyDescription)
{
    make({UsbDeviceManagerFlags::NoClockRead});
    manager->handleDeviceConnect();
    answer(nameAnswer(99));
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(manager->connectedDeviceInfo().type, 99);
    EXPECT_EQ(manager->connectedDeviceInfo().name, "");
    EXPECT_TRUE(manager->connectedDeviceInfo().complexCommands.empty());
    EXPECT_EQ(manager->connectedDeviceInfo().versionExtension, "Fe");
}

TEST_F(UsbDeviceManagerTest, unknownTypeWithoutClockImplementationStalls)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    manager->handleDeviceConnect();
    answer(nameAnswer(99));
    EXPECT_EQ(connected, 0);
    EXPECT_FALSE(manager->isIdentified());
    EXPECT_EQ(errors, std::vector<std::string>{"Implementation \"GetTime\" is not found"});
}

TEST_F(UsbDeviceManagerTest, shortIdentityAnswerIsReportedAndNothingIsPublished)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    manager->handleDeviceConnect();
    answer({0x7E, 0x04, 0x00, 0x02, 0x00, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xBD});
    EXPECT_EQ(errors, std::vector<std::string>{
                          "Command \"Name\" finished with error: WRONG_FRAME_FORMAT "
                          "[7E, 04, 00, 02, 00, 00, 07, 00, FF, FF, BD]"});
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(inFlight(), "");
    EXPECT_TRUE(channels->published.empty());
}

TEST_F(UsbDeviceManagerTest, disconnectionWhileNameInFlightReportsDeviceDisconnected)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    manager->handleDeviceConnect();
    manager->handleDeviceDisconnect();
    QCoreApplication::processEvents();
    EXPECT_EQ(errors, std::vector<std::string>{"Command \"Name\" finished with error: DEVICE_DISCONNECTED"});
    EXPECT_EQ(connected, 0);
    EXPECT_FALSE(manager->queue()->isDeviceConnected());
}

TEST_F(UsbDeviceManagerTest, disconnectionResetsTheConnectedRecord)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    identify();
    manager->handleDeviceDisconnect();
    EXPECT_FALSE(manager->isIdentified());
    EXPECT_EQ(manager->connectedDeviceInfo().type, 0);
    EXPECT_TRUE(manager->commandSet()->deviceInfo().isDefault());

    // A reconnection identifies the device again from scratch.
    manager->handleDeviceConnect();
    answer(nameAnswer(7));
    answer(kRtcAnswer);
    EXPECT_EQ(connected, 2);
}

TEST_F(UsbDeviceManagerTest, clockTimeoutGivesQueueAndOperationTexts)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    manager->handleDeviceConnect();
    answer(nameAnswer(7));
    ASSERT_EQ(inFlight(), "ReadRtc");
    manager->queue()->handleCommandTimeout();
    QCoreApplication::processEvents(); // the queue's report arrives queued
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Command \"GetTime\" finished with error: TIMEOUT",
                          "Command \"ReadRtc\" finished with error: TIMEOUT.\r\nSend: [7E, 00, 00, 05, FF, FF, BD], "
                          "Received: []."}));
    EXPECT_EQ(connected, 0);
}

TEST_F(UsbDeviceManagerTest, invalidClockAnswerCarriesTheBytes)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    manager->handleDeviceConnect();
    answer(nameAnswer(7));
    answer({0x7E, 0x06, 0x00, 0x05, 0x00, 0x00, 0x2A, 0x01, 0x01, 0x24, 0xFF, 0xFF, 0xBD});
    EXPECT_EQ(errors, std::vector<std::string>{
                          "Command \"GetTime\" finished with error: WRONG_FRAME_FORMAT "
                          "[7E, 06, 00, 05, 00, 00, 2A, 01, 01, 24, FF, FF, BD]"});
    EXPECT_EQ(connected, 0);
}

TEST_F(UsbDeviceManagerTest, cablePollingReportsOnlyChanges)
{
    make({UsbDeviceManagerFlags::PollCable, UsbDeviceManagerFlags::NoAdcOn});
    identify();
    EXPECT_EQ(inFlight(), "");

    // An absent cable that stays absent is asked about without any event.
    QTRY_VERIFY_WITH_TIMEOUT(cable.polls >= 3, 5000);
    EXPECT_EQ(cableConnected, 0);
    EXPECT_EQ(cableDisconnected, 0);

    cable.present = true;
    QTRY_COMPARE_WITH_TIMEOUT(cableConnected, 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(channels->ecgCounts.size(), size_t(1), 5000);
    EXPECT_EQ(channels->ecgCounts.back(), 1); // mode 4 carries one ECG signal
    EXPECT_TRUE(manager->connectedDeviceInfo().cablePresent);

    const int polls = cable.polls;
    QTRY_VERIFY_WITH_TIMEOUT(cable.polls >= polls + 2, 5000);
    EXPECT_EQ(cableConnected, 1);

    cable.present = false;
    QTRY_COMPARE_WITH_TIMEOUT(cableDisconnected, 1, 5000);
    EXPECT_EQ(channels->ecgCounts.back(), 8);
    EXPECT_TRUE(errors.empty());

    manager->handleDeviceDisconnect();
    const int pollsAtLoss = cable.polls;
    QTest::qWait(700);
    EXPECT_EQ(cable.polls, pollsAtLoss);
}

TEST_F(UsbDeviceManagerTest, missingCableImplementationIsReportedOnce)
{
    make({UsbDeviceManagerFlags::PollCableAlt, UsbDeviceManagerFlags::NoAdcOn}, false);
    identify();
    QTest::qWait(1000);
    EXPECT_EQ(errors, std::vector<std::string>{"Implementation \"ReadCableExist\" is not found"});
}

TEST_F(UsbDeviceManagerTest, echoAnswerMustRepeatTheDataByte)
{
    make({UsbDeviceManagerFlags::NoAdcOn});
    identify();

    manager->checkDeviceExist();
    EXPECT_EQ(inFlight(), "Echo");
    EXPECT_EQ(writer.pendingBytes(), kEchoRequest);
    answer({0x7E, 0x01, 0x00, 0x01, 0xDD, 0x00, 0x00, 0xBD});
    EXPECT_TRUE(errors.empty());

    manager->checkDeviceExist();
    answer({0x7E, 0x01, 0x00, 0x01, 0xDC, 0x00, 0x00, 0xBD});
    EXPECT_EQ(errors, std::vector<std::string>{
                          "Command \"Echo\" finished with error: WRONG_FRAME_FORMAT [7E, 01, 00, 01, DC, 00, 00, BD]"});

    // The poll is free again after a wrong answer.
    manager->checkDeviceExist();
    EXPECT_EQ(inFlight(), "Echo");
}

TEST_F(UsbDeviceManagerTest, errorTextsAreExact)
{
    make({});
    manager->handleCommandError("ReadPower", {0x7E, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0xBD}, {0x7E, 0x01}, 6);
    manager->sendCommandFinishError("AdcOn", DeviceCommand::TIMEOUT);
    manager->sendCommandFinishError(
        "GetTime", std::make_shared<DeviceCommandStatusInfo<Bytes>>(DeviceCommand::WRONG_FRAME_FORMAT, Bytes{0x7E, 0xBD}));
    manager->sendCommandFinishError("GetTime", std::make_shared<DeviceCommandStatus>(DeviceCommand::BAD_DATA));
    manager->sendCommandStartError("ReadCableExist", DeviceCommand::NOT_EXIST);
    manager->sendImplementationNotFoundError("ReadEcgMode");
    manager->handleCommandError("X", {}, {}, 77);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Command \"ReadPower\" finished with error: WRONG_FRAME_FORMAT.\r\n"
                          "Send: [7E, 00, 00, 0A, FF, FF, BD], Received: [7E, 01].",
                          "Command \"AdcOn\" finished with error: TIMEOUT",
                          "Command \"GetTime\" finished with error: WRONG_FRAME_FORMAT [7E, BD]",
                          "Command \"GetTime\" finished with error: BAD_DATA",
                          "Command \"ReadCableExist\" is not executed: NOT_EXIST",
                          "Implementation \"ReadEcgMode\" is not found",
                          "Command \"X\" finished with error: .\r\nSend: [], Received: [].",
                      }));
}

TEST(UsbDevice, ecgModesMapToSignalCountsAndDeviceBytes)
{
    using M = UsbDevice::EEcgMode;
    EXPECT_EQ(UsbDevice::ecgSignalCount(M::Mode2), 3);
    EXPECT_EQ(UsbDevice::ecgSignalCount(M::Mode3), 3);
    EXPECT_EQ(UsbDevice::ecgSignalCount(M::Mode4), 1);
    EXPECT_EQ(UsbDevice::ecgSignalCount(M::Mode1), 8);
    EXPECT_EQ(UsbDevice::ecgSignalCount(static_cast<M>(7)), 8);
    for (const M mode : {M::Mode1, M::Mode2, M::Mode3, M::Mode4})
        EXPECT_EQ(UsbDevice::fromDeviceByte(UsbDevice::toDeviceByte(mode)), mode);
    EXPECT_EQ(UsbDevice::toDeviceByte(M::Mode1), 4);
    EXPECT_EQ(UsbDevice::fromDeviceByte(7), M::NotSet);
}

} // namespace
