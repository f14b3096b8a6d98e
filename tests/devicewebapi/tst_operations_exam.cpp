// Examination data end to end against the simulated recorder.

#include "serviceclient.h"

namespace {

class ExamOperationsTest : public ServiceTesting::ServiceFixture
{
};

QJsonObject examination()
{
    return QJsonObject{{"PatientId", "P-17"},     {"Name", "Пётр"},           {"Surname", "Иванов"},
                       {"Patronymic", "Сергеевич"}, {"BirthdayDate", "1985-07-21"}, {"Sex", "м"},
                       {"StartTime", "2026-12-08 10:30:00"}, {"LeadType", 1},
                       {"FileName", "Иванов_2026-12-08.ecg"},
                       {"CableInfo", QJsonObject{{"Type", 5}, {"Number", 4660}, {"SetupCounter", 3}}}};
}

TEST_F(ExamOperationsTest, SetThenReadTheFileNameBack)
{
    const QJsonObject set = answerOf("SetExaminationInfo", examination());
    ASSERT_EQ(set["status"].toString(), "ok") << QJsonDocument(set).toJson().toStdString();
    EXPECT_TRUE(set["data"].isNull()) << "a status-only operation carries no data";
    const QJsonObject name = answerOf("GetExamFileName");
    ASSERT_EQ(name["status"].toString(), "ok") << QJsonDocument(name).toJson().toStdString();
    EXPECT_EQ(name["data"].toObject()["FileName"].toString(), "Иванов_2026-12-08.ecg");
}

TEST_F(ExamOperationsTest, RefusalsAndDamage)
{
    QJsonObject unknownLead = examination();
    unknownLead["LeadType"] = 2;
    EXPECT_EQ(answerOf("SetExaminationInfo", unknownLead)["errorcode"].toString(), "BAD_DATA");
    QJsonObject badYear = examination();
    badYear["StartTime"] = "2150-01-01 00:00:00";
    EXPECT_EQ(answerOf("SetExaminationInfo", badYear)["errorcode"].toString(), "BAD_DATA");

    ASSERT_EQ(answerOf("SetExaminationInfo", examination())["status"].toString(), "ok");
    control("set eepromWrite 0x0990:00"); // inside the block: the check value no longer fits
    EXPECT_EQ(answerOf("GetExamFileName")["errorcode"].toString(), "BAD_DATA");
}

TEST_F(ExamOperationsTest, TimeOutInTheChainEndsItOnce)
{
    control("fault no-answer count=1");
    EXPECT_EQ(answerOf("SetExaminationInfo", examination())["errorcode"].toString(), "TIMEOUT");
}

} // namespace
