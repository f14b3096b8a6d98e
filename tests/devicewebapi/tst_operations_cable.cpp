// Cable memory end to end against the simulated recorder.

#include "serviceclient.h"

#include <QElapsedTimer>

namespace {

class CableOperationsTest : public ServiceTesting::ServiceFixture
{
};

TEST_F(CableOperationsTest, WriteThenReadRoundTripsAfterTheCableRestart)
{
    control("set cablePresent true");
    const QJsonObject record{{"Version", 1},        {"CableRegime", 2},           {"CableType", 5},
                             {"CableNumber", 987654}, {"SetupCounter", 42},       {"DateOfCreate", "2024-06-30"},
                             {"BeginUsageDate", "2024-07-01"}, {"LastInstallDate", "2024-07-02"}};
    QElapsedTimer clock;
    clock.start();
    const QJsonObject written = answerOf("WriteCableInfo", record);
    EXPECT_GE(clock.elapsed(), 2000); // the answer waits for the cable's restart
    ASSERT_EQ(written["status"].toString(), "ok") << QJsonDocument(written).toJson().toStdString();
    const QJsonObject read = answerOf("ReadCableInfo");
    ASSERT_EQ(read["status"].toString(), "ok") << QJsonDocument(read).toJson().toStdString();
    const QJsonObject data = read["data"].toObject();
    EXPECT_EQ(data["CableRegime"].toInt(), 2);
    EXPECT_EQ(data["CableType"].toInt(), 5);
    EXPECT_EQ(data["CableNumber"].toInt(), 987654);
    EXPECT_EQ(data["SetupCounter"].toInt(), 42);
    EXPECT_EQ(data["DateOfCreate"].toString(), "2024-06-30");

    EXPECT_EQ(answerOf("ReadCableExist")["data"].toObject()["IsExist"].toBool(), true);
    EXPECT_EQ(answerOf("ReadCableVersion")["data"].toObject()["Uid"].toArray().size(), 12);
}

TEST_F(CableOperationsTest, LeadTypeFollowsTheCableTable)
{
    control("set cablePresent true");
    control("set cableType 5");
    const QJsonObject known = answerOf("GetCableLeadType");
    ASSERT_EQ(known["status"].toString(), "ok") << QJsonDocument(known).toJson().toStdString();
    EXPECT_GT(known["data"].toObject()["LeadType"].toInt(), 0);
    control("set cableType 250");
    EXPECT_EQ(answerOf("GetCableLeadType")["errorcode"].toString(), "BAD_DATA");
}

TEST_F(CableOperationsTest, FailuresInTheWriteChain)
{
    EXPECT_EQ(answerOf("WriteCableSetupCounter")["errorcode"].toString(), "BAD_DATA"); // no "data"
    // Without a cable the recorder refuses every cable request; a refused
    // write must not read as done.
    control("set cablePresent false");
    EXPECT_EQ(answerOf("WriteCableSetupCounter", QJsonObject{{"SetupCounter", 3}})["errorcode"].toString(),
              "WRONG_FRAME_FORMAT");
    control("set cablePresent true");
    control("fault no-answer count=1");
    EXPECT_EQ(answerOf("WriteCableSetupCounter", QJsonObject{{"SetupCounter", 3}})["errorcode"].toString(), "TIMEOUT");
}

} // namespace
