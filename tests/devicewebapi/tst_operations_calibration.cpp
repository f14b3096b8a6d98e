// Calibration end to end against the simulated recorder.

#include "serviceclient.h"

#include <QJsonArray>

namespace {

class CalibrationOperationsTest : public ServiceTesting::ServiceFixture
{
};

TEST_F(CalibrationOperationsTest, DefaultExternalCalibrationReadsBack)
{
    control("set cablePresent true");
    control("set calExtern.1.1 1,777,5,0");
    ASSERT_EQ(answerOf("WriteExternAccDefaultCalibration")["status"].toString(), "ok");
    const QJsonObject answer = answerOf("ReadExternAccCalibrationPoints");
    ASSERT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString();
    const QJsonArray points = answer["data"].toObject()["CalibrationPoints"].toArray();
    ASSERT_EQ(points.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const QJsonObject p = points[i].toObject();
        EXPECT_EQ(p["ChannelType"].toString(), "1");
        EXPECT_EQ(p["ChannelNumber"].toString(), QString::number(i / 2));
        EXPECT_EQ(p["PointIndex"].toString(), QString::number(i % 2));
        EXPECT_EQ(p["AdcValue"].toString(), i % 2 ? "1000" : "0");
        EXPECT_EQ(p["PhysicalValue"].toString(), i % 2 ? "1" : "0");
        EXPECT_EQ(p["IsValid"].toString(), "true");
    }
    const QJsonObject scale = answerOf("ReadExternAccCalibration");
    ASSERT_EQ(scale["status"].toString(), "ok") << QJsonDocument(scale).toJson().toStdString();
    EXPECT_EQ(scale["data"].toObject()["clbK"].toArray(), (QJsonArray{1000, 1000, 1000}));
}

TEST_F(CalibrationOperationsTest, InnerChannelsGiveScaleFactorsOfTheRecordersPoints)
{
    // ECG channel 0: ADC 100 and 1100 → clbK (10 / 1000) × 10^6.
    control("set calInner.0.0.0 1,100,0,0");
    control("set calInner.0.0.1 1,1100,10,0");
    // Reo channel 1: equal ADC values → the default 1000.
    control("set calInner.3.1.0 1,500,0,0");
    control("set calInner.3.1.1 1,500,1000,0");
    const QJsonObject answer = answerOf("ReadInnerChannelsCalibration");
    ASSERT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString();
    const QJsonArray channels = answer["data"].toObject()["Channels"].toArray();
    ASSERT_FALSE(channels.isEmpty());
    bool sawEcg = false, sawReo = false;
    for (const QJsonValue& value : channels) {
        const QJsonObject entry = value.toObject();
        const QJsonArray clbK = entry["clbK"].toArray();
        EXPECT_EQ(entry["Map"].toArray().size(), clbK.size());
        if (entry["Name"].toString().compare("ecg", Qt::CaseInsensitive) == 0) {
            sawEcg = true;
            EXPECT_EQ(clbK[0].toInt(), 10000);
        }
        if (entry["Name"].toString().compare("reo", Qt::CaseInsensitive) == 0 && clbK.size() == 2) {
            sawReo = true;
            EXPECT_EQ(clbK[1].toInt(), 1000);
        }
    }
    EXPECT_TRUE(sawEcg) << QJsonDocument(answer).toJson().toStdString();
    EXPECT_TRUE(sawReo) << QJsonDocument(answer).toJson().toStdString();
}

TEST_F(CalibrationOperationsTest, TimeOutInTheWriteChainEndsItOnce)
{
    control("set cablePresent true");
    control("fault no-answer count=1");
    EXPECT_EQ(answerOf("WriteExternAccDefaultCalibration")["errorcode"].toString(), "TIMEOUT");
    EXPECT_EQ(answerOf("ReadExternAccCalibrationPoints")["status"].toString(), "ok");
}

} // namespace
