#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/gettimecommand.h"
#include "usb/usbdevicecommandset.h"

#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::Usb;
using DevicesInfo::ECommandSourceType;
using Bytes = std::vector<uint8_t>;

namespace {

DevicesInfo::SimpleCommandInfo simple(const std::string& name, uint8_t code, ECommandSourceType source,
                                      int32_t width, std::vector<Bytes> options = {})
{
    DevicesInfo::SimpleCommandInfo info;
    info.name = name;
    info.code = code;
    info.data.sourceType = source;
    info.data.width = width;
    info.data.options = std::move(options);
    return info;
}

DeviceInfo testDevice()
{
    DeviceInfo info;
    info.type = 7;
    info.hardwareVersion = 0x0100;
    info.simpleCommands = {
        simple("ReadPower", 0x0A, ECommandSourceType::FIXED, 0),
        simple("WriteRecordMode", 0x07, ECommandSourceType::FIXED, 0, {{0x01}, {0x02}}),
        simple("WriteTwo", 0x11, ECommandSourceType::DYNAMIC, 2),
        simple("WriteAny", 0x12, ECommandSourceType::DYNAMIC, -1),
        simple("Switch", 0x13, ECommandSourceType::DYNAMIC, 1, {{0x00}, {0x01}}),
        simple("Prefixed", 0x14, ECommandSourceType::DYNAMIC, -1, {{0x27, 0x01}, {}}),
        simple("StrictPrefix", 0x15, ECommandSourceType::DYNAMIC, -1, {{0x27}}),
        simple("ReadPower", 0x0B, ECommandSourceType::FIXED, 0), // shadowed by the first
        DevicesInfo::SimpleCommandInfo::custom(),
    };
    return info;
}

struct EncodeCase
{
    const char* label;
    std::string name;
    Bytes data;
    DeviceCommand::EStatus status;
    Bytes frame;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase>
{
};

TEST_P(EncodeTest, producesExactFrameOrLeavesOutputAlone)
{
    const EncodeCase& c = GetParam();
    UsbDeviceCommandSet set({}, nullptr);
    set.setDeviceInfo(testDevice());
    const Bytes prefix{0xAA};
    Bytes out = prefix;
    const auto status = set.createCommandBytes(std::make_shared<LaunchedSimpleCommandInfo>(c.name, 1, c.data), out);
    EXPECT_EQ(status, c.status);
    Bytes expected = prefix;
    expected.insert(expected.end(), c.frame.begin(), c.frame.end());
    EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EncodeTest,
    ::testing::Values(
        EncodeCase{"fixedNoOptions", "ReadPower", {}, DeviceCommand::OK, {0x7E, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"nameIgnoresCase", "readpower", {}, DeviceCommand::OK, {0x7E, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"fixedFirstOption", "WriteRecordMode", {}, DeviceCommand::OK,
                   {0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"fixedWithArgument", "ReadPower", {0x01}, DeviceCommand::BAD_DATA, {}},
        EncodeCase{"unknownName", "ReadPowerX", {}, DeviceCommand::NOT_EXIST, {}},
        EncodeCase{"widthExact", "WriteTwo", {0x01, 0x02}, DeviceCommand::OK,
                   {0x7E, 0x02, 0x00, 0x11, 0x01, 0x02, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"widthTooLong", "WriteTwo", {0x01, 0x02, 0x03}, DeviceCommand::BAD_DATA, {}},
        EncodeCase{"widthTooShort", "WriteTwo", {0x01}, DeviceCommand::BAD_DATA, {}},
        EncodeCase{"anyWidthEmpty", "WriteAny", {}, DeviceCommand::OK, {0x7E, 0x00, 0x00, 0x12, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"anyWidthLong", "WriteAny", {1, 2, 3, 4, 5}, DeviceCommand::OK,
                   {0x7E, 0x05, 0x00, 0x12, 1, 2, 3, 4, 5, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"optionMatches", "Switch", {0x01}, DeviceCommand::OK,
                   {0x7E, 0x01, 0x00, 0x13, 0x01, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"optionMissing", "Switch", {0x02}, DeviceCommand::BAD_DATA, {}},
        EncodeCase{"emptyOptionMatchesAnything", "Prefixed", {0x33}, DeviceCommand::OK,
                   {0x7E, 0x01, 0x00, 0x14, 0x33, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"optionIsPrefix", "StrictPrefix", {0x27, 0x05}, DeviceCommand::OK,
                   {0x7E, 0x02, 0x00, 0x15, 0x27, 0x05, 0xFF, 0xFF, 0xBD}},
        EncodeCase{"optionPrefixMismatch", "StrictPrefix", {0x28, 0x05}, DeviceCommand::BAD_DATA, {}},
        EncodeCase{"customPassesBytesThrough", "custom", {0x7E, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0xBD},
                   DeviceCommand::OK, {0x7E, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0xBD}}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.label); });

TEST(UsbDeviceCommandSet, everyCommandNeedsAnIdentifiedDevice)
{
    UsbDeviceCommandSet set({}, nullptr);
    for (const std::string name : {"ReadPower", "Custom", "NoSuchCommand"}) {
        Bytes out;
        EXPECT_EQ(set.createCommandBytes(std::make_shared<LaunchedSimpleCommandInfo>(name, 1, Bytes{}), out),
                  DeviceCommand::DEVICE_DISCONNECTED)
            << name;
        EXPECT_TRUE(out.empty());
    }
    // After a disconnection the set is back to "no device".
    set.setDeviceInfo(testDevice());
    set.resetDeviceInfo();
    Bytes out;
    EXPECT_EQ(set.createCommandBytes(std::make_shared<LaunchedSimpleCommandInfo>("ReadPower", 1), out),
              DeviceCommand::DEVICE_DISCONNECTED);
}

class StubTimeCommand : public GetTimeCommand
{
public:
    StubTimeCommand(unsigned uid, int tag)
        : GetTimeCommand("GetTime", uid)
        , tag(tag)
    {
    }
    std::shared_ptr<DeviceCommandStatus> execute() override { return std::make_shared<DeviceCommandStatus>(); }
    int tag;
};

TEST(UsbDeviceCommandSet, complexCommandFollowsDescriptionThenHandler)
{
    ComplexCommandFactory factory;
    factory.add("OrvimGetTime", std::make_shared<ComplexDataCommandCreator<StubTimeCommand, unsigned, int>>(1));
    factory.add("OtherGetTime", std::make_shared<ComplexDataCommandCreator<StubTimeCommand, unsigned, int>>(2));

    DeviceInfo device = testDevice();
    device.complexCommands = {{"GetTime", "", "orvimgettime"},
                              {"GETTIME", "", "OtherGetTime"},
                              {"GetPower", "", "Unregistered"}};
    UsbDeviceCommandSet set({}, &factory);
    set.setDeviceInfo(device);

    const auto data = std::make_shared<ComplexCommandCreateData<unsigned>>(42u);
    const auto command = std::dynamic_pointer_cast<StubTimeCommand>(set.createComplexCommand("gettime", data));
    ASSERT_TRUE(command);
    EXPECT_EQ(command->tag, 1); // first description record wins
    EXPECT_EQ(command->uid(), 42u);
    EXPECT_EQ(command->name(), "GetTime");

    EXPECT_FALSE(set.createComplexCommand("GetPower", data)); // handler without creator
    EXPECT_FALSE(set.createComplexCommand("SetTime", data));  // not described
}

} // namespace
