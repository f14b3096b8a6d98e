// Examination data end to end against the simulated recorder.

#include "serviceclient.h"

#include <QDir>
#include <QFile>

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

TEST_F(ExamOperationsTest, WhatDoesNotFitIsRefusedWithNothingWritten)
{
    ASSERT_EQ(answerOf("SetExaminationInfo", examination())["status"].toString(), "ok");
    const QJsonObject before = model();
    ASSERT_FALSE(before["examField1"].toString().isEmpty());

    // A new patient whose first name does not fit: the surname must not reach
    // the recorder either, or it would hold a mixed identity.
    QJsonObject longName = examination();
    longName["Surname"] = "Петров";
    longName["Name"] = QString(100000, 'x');
    QJsonObject cutName = examination();
    cutName["Surname"] = "Петров";
    cutName["Name"] = QString(65, 'x');
    QJsonObject numberName = examination();
    numberName["Surname"] = "Петров";
    numberName["Name"] = 17;
    QJsonObject textLead = examination();
    textLead["Surname"] = "Петров";
    textLead["LeadType"] = "1";
    QJsonObject bigCableType = examination();
    bigCableType["Surname"] = "Петров";
    bigCableType["CableInfo"] = QJsonObject{{"Type", 261}, {"Number", 4660}, {"SetupCounter", 3}};
    for (const QJsonObject& data : {longName, cutName, numberName, textLead, bigCableType}) {
        const QJsonObject answer = answerOf("SetExaminationInfo", data);
        EXPECT_EQ(answer["errorcode"].toString(), "BAD_DATA") << QJsonDocument(answer).toJson().toStdString();
    }
    const QJsonObject after = model();
    for (const char* field : {"examField1", "examField2", "examField3", "examField6", "eeprom"})
        EXPECT_EQ(after[field].toString(), before[field].toString()) << field;

    // 64 bytes is what the recorder keeps, and is written whole.
    QJsonObject longest = examination();
    longest["Name"] = QString(64, 'x');
    ASSERT_EQ(answerOf("SetExaminationInfo", longest)["status"].toString(), "ok");
    EXPECT_EQ(model()["examField2"].toString().remove(' ').toLower(), QString(64, 'x').toLatin1().toHex());
}

TEST_F(ExamOperationsTest, TimeOutInTheChainEndsItOnce)
{
    control("fault no-answer count=1");
    const QJsonObject answer = answerOf("SetExaminationInfo", examination());
    EXPECT_EQ(answer["errorcode"].toString(), "TIMEOUT");
    // The client learns how far it got: here, before anything was written.
    EXPECT_TRUE(answer["errortext"].toString().startsWith(
        "SetExaminationInfo failed at Surname (TIMEOUT); written: nothing; not written: Surname, Name"))
        << QJsonDocument(answer).toJson().toStdString();
    // And so does whoever reads the error log afterwards.
    QFile errorLog(QDir(service.directory()).filePath("ErrorLog.txt"));
    ASSERT_TRUE(errorLog.open(QIODevice::ReadOnly));
    EXPECT_TRUE(errorLog.readAll().contains("SetExaminationInfo failed at Surname (TIMEOUT); written: nothing"));
}

} // namespace
