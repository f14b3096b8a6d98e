// Every refusal of a command's arguments says which argument and why, in
// "errortext", and nothing reaches the recorder.

#include "serviceclient.h"

#include <QJsonArray>

namespace {

class RefusalsTest : public ServiceTesting::ServiceFixture
{
};

QJsonObject patient()
{
    return QJsonObject{{"PatientId", "P-17"}, {"Surname", "Иванов"}, {"Name", "Пётр"}, {"LeadType", 1},
                       {"StartTime", "2026-12-08 10:30:00"}};
}

QJsonObject patientWith(const char* key, const QJsonValue& value)
{
    QJsonObject data = patient();
    data[key] = value;
    return data;
}

TEST_F(RefusalsTest, EachRefusalNamesTheFieldAndTheReason)
{
    struct Case
    {
        const char* command;
        QJsonValue data;
        QString textStart;
    };
    const std::vector<Case> cases = {
        {"SetExaminationInfo", patientWith("Surname", "Müller"), "Surname: ü cannot be stored by the recorder"},
        {"SetExaminationInfo", patientWith("Name", "Zoë"), "Name: ë cannot be stored by the recorder"},
        {"SetExaminationInfo", patientWith("Patronymic", QString(65, 'x')), "Patronymic: 65 characters, the recorder keeps at most 64"},
        {"SetExaminationInfo", patientWith("Surname", 17), "Surname: must be a text"},
        {"SetExaminationInfo", patientWith("LeadType", 2), "LeadType: 2 is no lead set the recorder knows"},
        {"SetExaminationInfo", patientWith("LeadType", "1"), "LeadType: must be a whole number"},
        {"SetExaminationInfo", patientWith("StartTime", "2150-01-01 00:00:00"), "StartTime: year 2150 is outside"},
        {"SetExaminationInfo", patientWith("StartTime", "tomorrow"), "StartTime: \"tomorrow\" is no date and time"},
        {"SetExaminationInfo", patientWith("BirthdayDate", "21.07.1985"), "BirthdayDate: \"21.07.1985\" is no date"},
        {"SetExaminationInfo", patientWith("Sex", "x"), "Sex: \"x\" is none of m, f"},
        {"SetExaminationInfo", patientWith("FileName", "ü.ecg"), "FileName: ü cannot be stored by the recorder"},
        {"SetExaminationInfo", patientWith("CableInfo", QJsonObject{{"Type", 261}}), "CableInfo.Type: must be a whole number 0–255"},
        {"SetExaminationInfo", QJsonArray{1, 2}, "data: must be an object"},
        {"SetProgId", QJsonObject{{"ProgId", 300}}, "ProgId: must be a whole number 0–255"},
        {"SetTime", QJsonObject{{"Year", 1999}, {"Month", 1}, {"Day", 1}}, "Year: 1999 is outside the recorder's calendar"},
        {"SetTime", QJsonObject{{"Year", 2030}, {"Month", "May"}}, "Month: must be a whole number"},
        {"WriteCableInfo", QJsonObject{{"CableType", 300}}, "CableType: must be a whole number 0–255"},
        {"WriteCableSetupCounter", QJsonObject{{"SetupCounter", -1}}, "SetupCounter: must be a whole number 0–255"},
        {"SetPel", "maybe", "data: must be true or false"},
        {"WriteEcgMode", 7, "data: the ECG mode must be a whole number 0–4"},
        {"StartSignalRecording", QJsonObject{{"Label", QString(201, 'x')}}, "Label: 201 characters, at most 200"},
        {"CustomByteCommand", QJsonArray{"0x7E", "0x05"}, "data: must be exactly one frame"},
    };
    const QJsonObject before = model();
    for (const Case& c : cases) {
        const QJsonObject answer = answerOf(c.command, c.data);
        const std::string shown = QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString();
        EXPECT_EQ(answer["errorcode"].toString(), "BAD_DATA") << c.command << " " << shown;
        EXPECT_TRUE(answer["errortext"].toString().startsWith(c.textStart)) << c.command << " " << shown;
    }
    const QJsonObject after = model();
    // No examination field was ever written to this recorder.
    for (const char* field : {"examField1", "examField2", "examField3", "examField6"})
        EXPECT_FALSE(after.contains(field)) << field;
    for (const char* field : {"eeprom", "cableType", "cableSetupCounter", "pel", "ecgMode"}) {
        ASSERT_TRUE(before.contains(field)) << field;
        EXPECT_EQ(after[field], before[field]) << field;
    }
}

} // namespace
