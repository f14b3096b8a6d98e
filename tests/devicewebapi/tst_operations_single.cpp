// The single-request operations end to end: HTTP request, the real service,
// the simulated recorder over virtual USB, and back.

#include "serviceclient.h"

#include <QJsonArray>

using ServiceTesting::PendingRequest;

namespace {

// A refusal's answer without its "errortext", which must say something.
inline std::string withoutReason(const QByteArray& body)
{
    QJsonObject answer = QJsonDocument::fromJson(body).object();
    EXPECT_FALSE(answer.value("errortext").toString().isEmpty()) << body.toStdString();
    answer.remove("errortext");
    return QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString();
}


class SingleOperationsTest : public ServiceTesting::ServiceFixture
{
};

struct Exchange
{
    const char* request;
    const char* answer;
};

TEST_F(SingleOperationsTest, EveryReadAnswersWithItsExactEnvelope)
{
    const Exchange exchanges[] = {
        {R"({"cmd":"GetPower","uid":7})", R"({"data":{"Power":3950},"status":"ok","uid":7})"},
        {R"({"cmd":"getfrequency","uid":8})", R"({"data":{"Frequency":500},"status":"ok","uid":8})"},
        {R"({"cmd":"GetExternAccFrequency","uid":9})", R"({"data":{"Frequency":26},"status":"ok","uid":9})"},
        {R"({"cmd":"GetWritingState","uid":10})", R"({"data":{"WritingState":"Dialog"},"status":"ok","uid":10})"},
        {R"({"cmd":"GetPel","uid":11})", R"({"data":{"Pel":false},"status":"ok","uid":11})"},
        {R"({"cmd":"ReadEcgMode","uid":12})", R"({"data":{"Mode":"4"},"status":"ok","uid":12})"},
        // Without a cable adapter the recorder refuses cable requests.
        {R"({"cmd":"CheckSpecialFirmwareExist","uid":13})", R"({"errorcode":"WRONG_FRAME_FORMAT","status":"error","uid":13})"},
    };
    for (const Exchange& e : exchanges)
        EXPECT_EQ(postRaw(QByteArray(e.request)).toStdString(), e.answer);

    control("set cablePresent true");
    control("set specialFirmware true");
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"CheckSpecialFirmwareExist","uid":14})")).toStdString(),
              R"({"data":{"IsExist":true},"status":"ok","uid":14})");
}

TEST_F(SingleOperationsTest, WritesChangeTheRecorderAndReadBack)
{
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"BeginWriting","uid":1})")).toStdString(),
              R"({"data":{"Code":0},"status":"ok","uid":1})");
    EXPECT_EQ(answerOf("GetWritingState")["data"].toObject()["WritingState"].toString(), "Writing");
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"StopWriting","uid":2})")).toStdString(),
              R"({"data":{"Code":0},"status":"ok","uid":2})");
    EXPECT_EQ(answerOf("GetWritingState")["data"].toObject()["WritingState"].toString(), "Dialog");

    // Below the start voltage the recorder refuses, and says so in the code.
    control("set power 3000");
    EXPECT_EQ(answerOf("BeginWriting")["data"].toObject()["Code"].toInt(), 1);

    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"SetProgId","uid":3,"data":{"ProgId":90}})")).toStdString(),
              R"({"data":null,"status":"ok","uid":3})");
    const QString eeprom = model()["eeprom"].toString().remove(' ').toLower();
    EXPECT_EQ(eeprom.mid(0x044D * 2, 4), "5aa5");

    EXPECT_EQ(answerOf("SetPumpState", QJsonObject{{"State", "ON"}})["status"].toString(), "ok");
    EXPECT_TRUE(model()["pump"].toBool());
    EXPECT_EQ(answerOf("SetVentState", QJsonObject{{"State", "on"}})["status"].toString(), "ok");
    EXPECT_TRUE(model()["vent"].toBool());
    EXPECT_EQ(answerOf("SetPumpState", QJsonObject{{"State", "Off"}})["status"].toString(), "ok");
    EXPECT_FALSE(model()["pump"].toBool());
    EXPECT_EQ(withoutReason(postRaw(QByteArray(R"({"cmd":"SetVentState","uid":4,"data":{"State":"half"}})"))),
              R"({"cmd":"SetVentState","errorcode":"BAD_DATA","status":"error","uid":4})");
    EXPECT_TRUE(model()["vent"].toBool());
}

TEST_F(SingleOperationsTest, ArgumentsOfTheWrongKindAreRefusedBeforeAnythingIsSent)
{
    // A text is no switch: "off" and "no" used to switch the pel on.
    const struct
    {
        QJsonValue data;
        bool pel;
    } switches[] = {{true, true}, {"off", false}, {"ON", true}, {"false", false}, {1, true}, {0, false}, {"true", true}};
    for (const auto& row : switches) {
        EXPECT_EQ(answerOf("SetPel", row.data)["status"].toString(), "ok") << QJsonDocument(QJsonArray{row.data}).toJson().toStdString();
        EXPECT_EQ(model()["pel"].toBool(), row.pel) << QJsonDocument(QJsonArray{row.data}).toJson().toStdString();
    }
    ASSERT_TRUE(model()["pel"].toBool());
    const QByteArray refused[] = {
        R"({"cmd":"SetPel","uid":2,"data":"no"})",
        R"({"cmd":"SetPel","uid":2,"data":"yes"})",
        R"({"cmd":"SetPel","uid":2,"data":2})",
        R"({"cmd":"SetPel","uid":2,"data":{"Pel":false}})",
    };
    for (const QByteArray& body : refused)
        EXPECT_EQ(withoutReason(postRaw(body)), R"({"cmd":"SetPel","errorcode":"BAD_DATA","status":"error","uid":2})")
            << body.constData();
    EXPECT_TRUE(model()["pel"].toBool());
    // No "data" at all still switches it off.
    EXPECT_EQ(answerOf("SetPel")["status"].toString(), "ok");
    EXPECT_FALSE(model()["pel"].toBool());

    // The program identifier is one byte: 300 is not 44, "abc" is not 0.
    const QString before = model()["eeprom"].toString();
    for (const char* progId : {"300", "-1", "\"abc\"", "\"7\"", "1.5", "true", "null"}) {
        const QByteArray body = QByteArray(R"({"cmd":"SetProgId","uid":3,"data":{"ProgId":)") + progId + "}}";
        EXPECT_EQ(withoutReason(postRaw(body)), R"({"cmd":"SetProgId","errorcode":"BAD_DATA","status":"error","uid":3})")
            << body.constData();
    }
    EXPECT_EQ(model()["eeprom"].toString(), before);
    EXPECT_EQ(answerOf("SetProgId", QJsonObject{{"ProgId", 255}})["status"].toString(), "ok");
    EXPECT_EQ(model()["eeprom"].toString().remove(' ').toLower().mid(0x044D * 2, 4), "ff00");

    // The other front ends: an ECG mode outside 0-4 or of another kind, a
    // clock field that is no number, a cable byte out of range.
    const int mode = model()["ecgMode"].toInt();
    for (const char* data : {"\"abc\"", "5", "-1", "2.5", "true", "[2]"}) {
        const QByteArray body = QByteArray(R"({"cmd":"WriteEcgMode","uid":4,"data":)") + data + "}";
        EXPECT_EQ(withoutReason(postRaw(body)), R"({"cmd":"WriteEcgMode","errorcode":"BAD_DATA","status":"error","uid":4})")
            << body.constData();
    }
    EXPECT_EQ(model()["ecgMode"].toInt(), mode);
    for (const char* time : {R"({"Year":2030,"Month":"5"})", R"({"Year":"2030"})", R"({"Year":2030,"Hours":-1})",
                             R"({"Year":2030,"Day":1.5})"}) {
        const QByteArray body = QByteArray(R"({"cmd":"SetTime","uid":5,"data":)") + time + "}";
        EXPECT_EQ(withoutReason(postRaw(body)), R"({"cmd":"SetTime","errorcode":"BAD_DATA","status":"error","uid":5})")
            << body.constData();
    }
    EXPECT_NE(answerOf("GetTime")["data"].toObject()["Year"].toInt(), 2030);
    for (const char* counter : {"300", "\"3\"", "-2"}) {
        const QByteArray body = QByteArray(R"({"cmd":"WriteCableSetupCounter","uid":6,"data":{"SetupCounter":)") + counter + "}}";
        EXPECT_EQ(withoutReason(postRaw(body)),
                  R"({"cmd":"WriteCableSetupCounter","errorcode":"BAD_DATA","status":"error","uid":6})")
            << body.constData();
    }
}

TEST_F(SingleOperationsTest, SetTimeIsReadBackClamped)
{
    const QJsonObject time{{"Year", 2031}, {"Month", 0}, {"Day", 31}, {"Hours", 300}, {"Minutes", 75}, {"Seconds", 0}};
    EXPECT_EQ(postRaw(QJsonDocument(QJsonObject{{"cmd", "SetTime"}, {"uid", 5}, {"data", time}}).toJson(QJsonDocument::Compact))
                  .toStdString(),
              R"({"data":null,"status":"ok","uid":5})");
    const QJsonObject clock = answerOf("GetTime")["data"].toObject();
    EXPECT_EQ(clock["Year"].toInt(), 2031);
    EXPECT_EQ(clock["Month"].toInt(), 1);
    EXPECT_EQ(clock["Day"].toInt(), 31);
    EXPECT_EQ(clock["Hours"].toInt(), 23);
    EXPECT_EQ(clock["Minutes"].toInt(), 59);
    // The recorder's clock runs on.
    EXPECT_LE(clock["Seconds"].toInt(), 3);

    EXPECT_EQ(withoutReason(postRaw(QByteArray(R"({"cmd":"SetTime","uid":6})"))),
              R"({"cmd":"SetTime","errorcode":"BAD_DATA","status":"error","uid":6})");
}

TEST_F(SingleOperationsTest, SetPelReadsTheReoSwitchOnceAndKeepsIt)
{
    control("set reo true");
    EXPECT_EQ(answerOf("SetPel", true)["status"].toString(), "ok");
    EXPECT_TRUE(model()["pel"].toBool());
    EXPECT_TRUE(model()["reo"].toBool());

    // Changed behind the service's back: the second write keeps the reo
    // switch the service read the first time, so it did not read again.
    control("set reo false");
    EXPECT_EQ(answerOf("SetPel", false)["status"].toString(), "ok");
    EXPECT_FALSE(model()["pel"].toBool());
    EXPECT_TRUE(model()["reo"].toBool());
    EXPECT_EQ(answerOf("GetPel")["data"].toObject()["Pel"].toBool(), false);
}

TEST_F(SingleOperationsTest, WriteEcgModeRestartsTheStreamOnlyWhenItRan)
{
    EXPECT_EQ(answerOf("WriteEcgMode", "2")["status"].toString(), "ok");
    EXPECT_EQ(answerOf("ReadEcgMode")["data"].toObject()["Mode"].toString(), "2");
    EXPECT_TRUE(model()["adc"].toBool());

    // Once the service has seen the stream stop, the mode is written with
    // the converter left off.
    control("set adc false");
    QThread::sleep(4);
    EXPECT_EQ(answerOf("WriteEcgMode", 3)["status"].toString(), "ok");
    EXPECT_EQ(model()["ecgMode"].toInt(), 3);
    EXPECT_FALSE(model()["adc"].toBool());
}

TEST_F(SingleOperationsTest, RecorderFaultsBecomeErrorCodes)
{
    struct Fault
    {
        const char* setup;
        const char* command;
        const char* errorcode;
    };
    // A short answer of each operation is judged by the operations' own
    // tests; here a few show the whole road from the recorder to the client.
    const Fault faults[] = {
        {"fault no-answer", "GetPower", "TIMEOUT"},
        {"fault wrong-length", "GetWritingState", "WRONG_FRAME_FORMAT"},
        {"fault wrong-length", "ReadEcgMode", "WRONG_FRAME_FORMAT"},
        {"set clockBcd 00:00:2A:01:01:24", "GetTime", "WRONG_FRAME_FORMAT"},
        {"set frequencyCode 3", "GetFrequency", "WRONG_FRAME_FORMAT"},
        {"set writingStateCode 3", "GetWritingState", "WRONG_FRAME_FORMAT"},
        {"fault no-answer", "SetPel", "TIMEOUT"},
        {"fault wrong-length", "GetPel", "WRONG_FRAME_FORMAT"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.setup + std::string(" / ") + f.command);
        control(f.setup);
        const QJsonObject answer = answerOf(f.command);
        SCOPED_TRACE(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(answer["status"].toString(), "error");
        EXPECT_EQ(answer["errorcode"].toString().toStdString(), f.errorcode);
        EXPECT_EQ(answer["uid"].toInt(), 1);
        EXPECT_FALSE(answer.contains("data"));
    }
    // A year byte of 0x99 is a valid clock.
    control("set clockBcd 00:00:12:01:01:99");
    EXPECT_EQ(answerOf("GetTime")["data"].toObject()["Year"].toInt(), 2099);
}

TEST_F(SingleOperationsTest, UnplugMidCommandAnswersDeviceDisconnected)
{
    control("fault delay-answer delay=3000");
    PendingRequest request(service.httpPort(), R"({"cmd":"GetPower","uid":21})");
    QThread::msleep(300);
    QCoreApplication::processEvents();
    control("unplug");
    EXPECT_EQ(request.body().toStdString(), R"({"errorcode":"DEVICE_DISCONNECTED","status":"error","uid":21})");
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"GetPower","uid":22})")).toStdString(),
              R"({"cmd":"GetPower","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":22})");
}

TEST_F(SingleOperationsTest, RestartAnswersAndTheRecorderComesBack)
{
    EXPECT_EQ(postRaw(QByteArray(R"({"cmd":"Restart","uid":30})")).toStdString(), R"({"data":null,"status":"ok","uid":30})");
    EXPECT_TRUE(waitFor([this] { return answerOf("GetPower")["status"].toString() == "ok"; }, 10000));
}

} // namespace
