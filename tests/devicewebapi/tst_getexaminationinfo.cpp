// "GetExaminationInfo" end to end: the examination the service holds is the
// one the recorder last accepted, whatever a client sent after it.

#include "serviceclient.h"

#include <QJsonArray>

namespace {

class GetExaminationInfoTest : public ServiceTesting::ServiceFixture
{
protected:
    QJsonObject examinationInfo()
    {
        const QJsonObject answer = answerOf("GetExaminationInfo");
        EXPECT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString();
        return answer["data"].toObject();
    }
};

QJsonObject patient(int leadType)
{
    return QJsonObject{{"PatientId", "P-17"},          {"Name", "Пётр"},       {"Surname", "Иванов"},
                       {"Patronymic", "Сергеевич"},    {"BirthdayDate", "1985-07-21"}, {"Sex", "м"},
                       {"StartTime", "2026-12-08 10:30:00"}, {"LeadType", leadType}, {"FileName", "a.ecg"},
                       {"CableInfo", QJsonObject{{"Type", 5}, {"Number", 4660}, {"SetupCounter", 3}}}};
}

QStringList texts(const QJsonValue& array)
{
    QStringList list;
    for (const QJsonValue& value : array.toArray())
        list << value.toString();
    return list;
}

TEST_F(GetExaminationInfoTest, NothingKnownBeforeTheFirstAcceptedExamination)
{
    const QJsonObject info = examinationInfo();
    EXPECT_EQ(info["Known"], QJsonValue(false));
    for (const char* key : {"PatientId", "Surname", "Name", "Patronymic", "BirthdayDate", "Sex"})
        EXPECT_EQ(info[key], QJsonValue("")) << key;
    EXPECT_TRUE(info["LeadType"].isNull());
    EXPECT_TRUE(info["LeadSet"].isNull());
    EXPECT_EQ(info["Leads"], QJsonValue(QJsonArray()));
}

TEST_F(GetExaminationInfoTest, AnswersTheAcceptedExaminationWithItsLeadNames)
{
    ASSERT_EQ(answerOf("SetExaminationInfo", patient(1))["status"].toString(), "ok");
    QJsonObject info = examinationInfo();
    EXPECT_EQ(info["Known"], QJsonValue(true));
    EXPECT_EQ(info["PatientId"].toString(), "P-17");
    EXPECT_EQ(info["Surname"].toString(), "Иванов");
    EXPECT_EQ(info["Name"].toString(), "Пётр");
    EXPECT_EQ(info["Patronymic"].toString(), "Сергеевич");
    EXPECT_EQ(info["BirthdayDate"].toString(), "1985-07-21");
    EXPECT_EQ(info["Sex"].toString(), "m");
    EXPECT_EQ(info["LeadType"].toInt(), 1);
    EXPECT_FALSE(info["LeadSet"].toString().isEmpty());
    EXPECT_EQ(texts(info["Leads"]), (QStringList{"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"}));

    // A refused examination leaves the one in force as it is.
    QJsonObject refused = patient(1);
    refused["Surname"] = "Müller";
    refused["PatientId"] = "P-18";
    ASSERT_EQ(answerOf("SetExaminationInfo", refused)["status"].toString(), "error");
    EXPECT_EQ(examinationInfo()["PatientId"].toString(), "P-17");

    // A lead set that does not name the recorder's eight channels gives no names.
    QJsonObject anonymous = patient(16);
    anonymous["Surname"] = "";
    anonymous["Name"] = "";
    anonymous["Patronymic"] = "";
    anonymous["BirthdayDate"] = "";
    anonymous["Sex"] = "";
    ASSERT_EQ(answerOf("SetExaminationInfo", anonymous)["status"].toString(), "ok");
    info = examinationInfo();
    EXPECT_EQ(info["Known"], QJsonValue(true));
    EXPECT_EQ(info["Surname"], QJsonValue(""));
    EXPECT_EQ(info["BirthdayDate"], QJsonValue(""));
    EXPECT_EQ(info["Sex"], QJsonValue(""));
    EXPECT_EQ(info["LeadType"].toInt(), 16);
    EXPECT_EQ(info["Leads"], QJsonValue(QJsonArray()));
}

TEST_F(GetExaminationInfoTest, IsListedWithItsAnswer)
{
    const QJsonObject list = answerOf("GetCmdList");
    QJsonObject description;
    for (const QJsonValue& entry : list["data"].toArray()) {
        if (entry.toObject()["cmd"].toString() == "GetExaminationInfo")
            description = entry.toObject();
    }
    ASSERT_FALSE(description.isEmpty());
    EXPECT_TRUE(description["answer"].toObject().contains("Leads"));
}

} // namespace
