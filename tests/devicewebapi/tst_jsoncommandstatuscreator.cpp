#include "devicewebapi/jsoncommandstatuscreator.h"
#include "net/webapi/jsoncommandanswer.h"
#include "usb/devicecommandstatusinfo.h"

#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::DeviceWebApi;
using Net::WebApi::ErrorJsonCommandStatus;
using Net::WebApi::ErrorJsonCommandStatusWithData;
using Net::WebApi::JsonCommandStatus;
using Bytes = std::vector<uint8_t>;

namespace {

struct StatusRow
{
    Usb::DeviceCommand::EStatus code;
    int webCode;
    const char* errorCode; // "" for success
};

class JsonCommandStatusCreatorCodes : public ::testing::TestWithParam<StatusRow>
{
};

std::string errorCodeOf(const std::shared_ptr<JsonCommandStatus>& status)
{
    const auto* error = dynamic_cast<const ErrorJsonCommandStatus*>(status.get());
    return error ? error->errorCode() : std::string();
}

const Bytes* frameOf(const std::shared_ptr<JsonCommandStatus>& status)
{
    const auto* withData = dynamic_cast<const ErrorJsonCommandStatusWithData<Bytes>*>(status.get());
    return withData ? &withData->data() : nullptr;
}

} // namespace

// Every way of building a status agrees on the code and the status name.
TEST_P(JsonCommandStatusCreatorCodes, everyFormGivesTheSameCodeAndName)
{
    const StatusRow row = GetParam();
    const auto fromCode = JsonCommandStatusCreator::create(row.code);
    const auto fromDevice = JsonCommandStatusCreator::create(std::make_shared<Usb::DeviceCommandStatus>(row.code));
    const auto fromCodeAndBytes = JsonCommandStatusCreator::create(row.code, Bytes{0x7E});
    for (const auto& status : {fromCode, fromDevice, fromCodeAndBytes}) {
        ASSERT_TRUE(status);
        EXPECT_EQ(status->code(), row.webCode);
        EXPECT_EQ(errorCodeOf(status), row.errorCode);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllStatuses, JsonCommandStatusCreatorCodes,
    ::testing::Values(StatusRow{Usb::DeviceCommand::OK, 0, ""},
                      StatusRow{Usb::DeviceCommand::UNKNOWN_ERROR, 1, "UNKNOWN_ERROR"},
                      StatusRow{Usb::DeviceCommand::NOT_EXIST, 1, "NOT_EXIST"},
                      StatusRow{Usb::DeviceCommand::BAD_DATA, 1, "BAD_DATA"},
                      StatusRow{Usb::DeviceCommand::TIMEOUT, 1, "TIMEOUT"},
                      StatusRow{Usb::DeviceCommand::DEVICE_DISCONNECTED, 1, "DEVICE_DISCONNECTED"},
                      StatusRow{Usb::DeviceCommand::WRONG_FRAME_FORMAT, 1, "WRONG_FRAME_FORMAT"},
                      // Out of the enumeration: still an error with a name.
                      StatusRow{static_cast<Usb::DeviceCommand::EStatus>(42), 1, "UNKNOWN_ERROR"}));

TEST(JsonCommandStatusCreator, malformedAnswerKeepsItsFrame)
{
    const Bytes frame{0x7E, 0x01, 0x00, 0x05, 0x99, 0xFF, 0xFF, 0xBD};
    const auto fromDevice = JsonCommandStatusCreator::create(
        std::make_shared<Usb::DeviceCommandStatusInfo<Bytes>>(Usb::DeviceCommand::WRONG_FRAME_FORMAT, frame));
    ASSERT_NE(frameOf(fromDevice), nullptr);
    EXPECT_EQ(*frameOf(fromDevice), frame);

    const auto fromBytes = JsonCommandStatusCreator::create(Usb::DeviceCommand::WRONG_FRAME_FORMAT, frame);
    ASSERT_NE(frameOf(fromBytes), nullptr);
    EXPECT_EQ(*frameOf(fromBytes), frame);
}

TEST(JsonCommandStatusCreator, onlyAMalformedAnswerCarriesBytes)
{
    EXPECT_EQ(frameOf(JsonCommandStatusCreator::create(Usb::DeviceCommand::TIMEOUT, Bytes{1, 2})), nullptr);
    EXPECT_EQ(frameOf(JsonCommandStatusCreator::create(Usb::DeviceCommand::OK, Bytes{1, 2})), nullptr);
    // A malformed-answer status without its frame still reports the failure.
    const auto bare = JsonCommandStatusCreator::create(
        std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::WRONG_FRAME_FORMAT));
    EXPECT_EQ(bare->code(), 1);
    EXPECT_EQ(errorCodeOf(bare), "WRONG_FRAME_FORMAT");
}

TEST(JsonCommandStatusCreator, missingDeviceStatusIsNeverSuccess)
{
    const auto status = JsonCommandStatusCreator::create(std::shared_ptr<Usb::DeviceCommandStatus>());
    EXPECT_EQ(status->code(), 1);
    EXPECT_EQ(errorCodeOf(status), "UNKNOWN_ERROR");
}

// A failure that says what it left behind (a half-done write) keeps that
// text up to the answer envelope; the code stays the status name.
TEST(JsonCommandStatusCreator, failureTextReachesTheAnswerAsErrorText)
{
    const auto status = JsonCommandStatusCreator::create(
        std::make_shared<Usb::DeviceCommandStatusInfo<std::string>>(Usb::DeviceCommand::TIMEOUT, "written: Surname"));
    EXPECT_EQ(errorCodeOf(status), "TIMEOUT");
    EXPECT_EQ(Net::WebApi::JsonCommandAnswer::toBytes(Net::WebApi::JsonCommandAnswer::fromStatus(7, {}, status.get())),
              R"({"errorcode":"TIMEOUT","errortext":"written: Surname","status":"error","uid":7})");

    // Without a text, and for success, the envelope is as it always was.
    const auto plain = JsonCommandStatusCreator::create(Usb::DeviceCommand::TIMEOUT);
    EXPECT_EQ(Net::WebApi::JsonCommandAnswer::toBytes(Net::WebApi::JsonCommandAnswer::fromStatus(7, {}, plain.get())),
              R"({"errorcode":"TIMEOUT","status":"error","uid":7})");
    const auto ok = JsonCommandStatusCreator::create(
        std::make_shared<Usb::DeviceCommandStatusInfo<std::string>>(Usb::DeviceCommand::OK, "ignored"));
    EXPECT_EQ(ok->code(), 0);
}
