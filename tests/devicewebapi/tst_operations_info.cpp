// "GetDevInfo" and "GetFlashMemoryInfo": their text rules, and both end to
// end against the simulated recorder.

#include "serviceclient.h"

#include "devicewebapi/getdeviceinfojsoncommand.h"
#include "devicewebapi/getflashmemoryinfojsoncommand.h"

using Tavrix::DeviceWebApi::GetDeviceInfoJsonCommand;
using Tavrix::DeviceWebApi::GetFlashMemoryInfoJsonCommand;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(DeviceInfoTexts, StateTextNamesTheStateThenItsFlags)
{
    struct Case
    {
        uint8_t state;
        bool prepared, full, power;
        const char* text;
    };
    const Case cases[] = {
        {0, false, false, false, ""},
        {1, false, false, false, "Ожидание"},
        {2, false, false, false, "Запись"},
        {7, false, false, false, ""},
        {1, true, false, false, "Ожидание, подготовлен к записи"},
        {2, true, true, true, "Запись, подготовлен к записи, память заполнена, остановлен по питанию"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetDeviceInfoJsonCommand::createDeviceStateText(c.state, c.prepared, c.full, c.power),
                  QString::fromUtf8(c.text))
            << int(c.state);
}

TEST(DeviceInfoTexts, DateNeedsItsCheckByte)
{
    const auto answer = [](uint8_t check) {
        return Bytes{0x7E, 0x07, 0x00, 0x03, 19, 3, 27, 8, 5, 0, check, 0xFF, 0xFF, 0xBD};
    };
    EXPECT_EQ(GetDeviceInfoJsonCommand::dateText(answer(0x71)), "27.03.2019 08:05:00");
    EXPECT_EQ(GetDeviceInfoJsonCommand::dateText(answer(0x72)), "?");
    EXPECT_EQ(GetDeviceInfoJsonCommand::dateText(Bytes{0x7E, 0x03, 0x00, 0x03, 19, 3, 27, 0xFF, 0xFF, 0xBD}), "?");
    // Six date bytes and a check byte that is really the checksum's first byte.
    EXPECT_EQ(GetDeviceInfoJsonCommand::dateText(Bytes{0x7E, 0x06, 0x00, 0x03, 0, 0, 0, 0, 0, 0xBB, 0xEE, 0xFF, 0xBD}),
              "?");
}

TEST(DeviceInfoTexts, FillPercentCountsWrittenBlocksOfTheArea)
{
    struct Case
    {
        uint64_t min, max, written;
        const char* text;
    };
    const Case cases[] = {
        {0, 1048576, 524288, "50"},
        {0, 1048576, 2000000, "100"}, // beyond the end counts as the end
        {0, 511, 0, "?"},
        {0, 1048576, 0, "0"},
        {4096, 1048576, 1024, "0"}, // below the area
        {4096, 4096, 4096, "0"},    // an empty area
        {8192, 4096, 4096, "0"},    // an area the wrong way round
        {512, 1024 + 512, 1024, "50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetFlashMemoryInfoJsonCommand::fillPercentText(c.min, c.max, c.written), c.text)
            << c.min << " " << c.max << " " << c.written;
}

class DeviceInfoTest : public ServiceTesting::ServiceFixture
{
};

TEST_F(DeviceInfoTest, DevInfoDescribesTheRecorder)
{
    const QByteArray expected = QString::fromUtf8(
        R"({"data":{"GuiVersion":"1.2a","HardVer":"1.02","LastModDate":"02.11.2026 10:15:00",)"
        R"("Name":"Orvim Ferrow 8 AD","Number":20261208,"Revision":"1.03","ServiceCounter":0,"SetupCount":12,)"
        R"("SoftVer":"2.15","State":"Ожидание","Type":22,"VersionExtension":"Ferrow-8AD"},"status":"ok","uid":3})")
                                    .toUtf8();
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"GetDevInfo","uid":3})")), expected);

    control("set preparedForWriting true");
    EXPECT_EQ(answerOf("GetDevInfo")["data"].toObject()["State"].toString(),
              QString::fromUtf8("Ожидание, подготовлен к записи"));
    control("set recording true");
    EXPECT_EQ(answerOf("GetDevInfo")["data"].toObject()["State"].toString(), QString::fromUtf8("Запись"));

    // A date record whose check byte does not match is shown as unknown.
    control("set eepromWrite 0x040A:1A0B0C0D0E0F00");
    EXPECT_EQ(answerOf("GetDevInfo")["data"].toObject()["LastModDate"].toString(), "?");
    control("set eepromWrite 0x040A:13031B08050071");
    EXPECT_EQ(answerOf("GetDevInfo")["data"].toObject()["LastModDate"].toString(), "27.03.2019 08:05:00");
}

TEST_F(DeviceInfoTest, FlashMemoryInfoShowsSizeFillAndReadState)
{
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"GetFlashMemoryInfo","uid":4})")),
              QString::fromUtf8(R"({"data":{"BeginReadBlock":"0","FillMemoryPercent":"3","FlashState":"Не прочитана",)"
                                R"("MemorySize":"1048576"},"status":"ok","uid":4})")
                  .toUtf8());

    control("set flashWrittenMax 0x7FFFF");
    control("set flashRead true");
    control("set flashMin 0x2000");
    const QJsonObject data = answerOf("GetFlashMemoryInfo")["data"].toObject();
    EXPECT_EQ(data["FillMemoryPercent"].toString(), QString::number((1024 - 16) * 100 / (2048 - 16)));
    EXPECT_EQ(data["BeginReadBlock"].toString(), "10");
    EXPECT_EQ(data["FlashState"].toString(), QString::fromUtf8("Прочитана"));
}

TEST_F(DeviceInfoTest, FailuresOnTheWayEndTheChainWithTheirCode)
{
    control("fault no-answer");
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"GetDevInfo","uid":5})")).toStdString(),
              R"({"errorcode":"TIMEOUT","status":"error","uid":5})");
    control("fault no-answer");
    EXPECT_EQ(answerOf("GetFlashMemoryInfo")["errorcode"].toString(), "TIMEOUT");
    // Short answers inside the chain leave their field at 0 instead of
    // failing, and never lend their checksum to it.
    control("fault wrong-length count=2");
    const QJsonObject answer = answerOf("GetDevInfo");
    const QJsonObject data = answer["data"].toObject();
    EXPECT_EQ(answer["status"].toString(), "ok");
    EXPECT_EQ(data["Number"].toDouble(), 0) << QJsonDocument(answer).toJson().toStdString();
    EXPECT_EQ(data["GuiVersion"].toString(), "0.0");
    EXPECT_EQ(data["Revision"].toString(), "1.03");
}

} // namespace
