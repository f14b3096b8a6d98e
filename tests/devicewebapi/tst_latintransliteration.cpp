#include "devicewebapi/latintransliteration.h"
#include "archive/recordingpatient.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using Tavrix::DeviceWebApi::LatinTransliteration;
using Tavrix::Archive::RecordingPatient;

TEST(LatinTransliteration, WritesNamesAsTravelDocumentsDo)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Ivanov", "Ivanov"},
        {u8"Иванов", "Ivanov"},
        {u8"Пётр", "Petr"},
        {u8"Жуков", "Zhukov"},
        {u8"ЖУКОВ", "ZHUKOV"},
        {u8"Щукина Юлия", "Shchukina Iuliia"},
        {u8"Хрущёв", "Khrushchev"},
        {u8"Соловьёв", "Solovev"},
        {u8"Цой Ян", "Tsoi Ian"},
        {u8"Подъячев", "Podieiachev"},
        {u8"Müller", "Mueller"},
        {u8"Zoë", "Zoe"},
        {u8"Straße", "Strasse"},
        {u8"Ørsted", "Oersted"},
        {u8"José Núñez", "Jose Nunez"},
        {u8"Їжак", "Izhak"},
        {"", ""},
        {u8"王", u8"王"}, // outside the scheme: left to the caller
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(LatinTransliteration::toLatin(input), expected) << input;
}

TEST(RecordingPatient, ReadsTheHeaderPatientField)
{
    const auto field = [](const char* text) { return QByteArray(text).leftJustified(80, ' '); };
    QJsonObject patient = RecordingPatient::fromHeaderField(field("P-17 M 21-JUL-1985 Ivanov_Petr"));
    EXPECT_EQ(patient["PatientId"].toString(), "P-17");
    EXPECT_EQ(patient["Sex"].toString(), "m");
    EXPECT_EQ(patient["BirthdayDate"].toString(), "1985-07-21");
    EXPECT_EQ(patient["Name"].toString(), "Ivanov Petr");

    patient = RecordingPatient::fromHeaderField(field("X X X X"));
    EXPECT_EQ(patient["PatientId"].toString(), "");
    EXPECT_EQ(patient["Sex"].toString(), "");
    EXPECT_EQ(patient["BirthdayDate"].toString(), "");
    EXPECT_EQ(patient["Name"].toString(), "");

    // Not the EDF+ form: nothing is made up.
    EXPECT_TRUE(RecordingPatient::fromHeaderField(field("just a name")).isEmpty());
    EXPECT_TRUE(RecordingPatient::fromHeaderField(field("P F 31-XYZ-1985 N")).isEmpty());
}
