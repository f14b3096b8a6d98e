#pragma once

#include <QJsonObject>
#include <QString>

namespace Tavrix::Archive {

// The patient a BDF+/EDF+ file names in its header ("local patient
// identification": code, sex, birth date, name), so that a list of
// recordings says whose each one is without reading the signals.
class RecordingPatient
{
public:
    // {"PatientId", "Sex" ("m", "f" or ""), "BirthdayDate" (yyyy-MM-dd or
    // ""), "Name"}, empty texts for the fields the file leaves unknown ("X");
    // an empty object when the file cannot be read or its field is not in
    // the EDF+ form.
    static QJsonObject read(const QString& path);
    // The same from the 80 characters of the header field.
    static QJsonObject fromHeaderField(const QByteArray& field);
};

} // namespace Tavrix::Archive
