#include "archive/recordingpatient.h"

#include <QDate>
#include <QFile>
#include <QList>
#include <QLocale>

namespace Tavrix::Archive {

namespace {
// The header starts with 8 bytes of version, then the 80-byte patient field.
constexpr qint64 patientFieldOffset = 8;
constexpr qint64 patientFieldSize = 80;

QString known(const QByteArray& subfield)
{
    return subfield == "X" ? QString() : QString::fromLatin1(subfield).replace('_', ' ');
}
} // namespace

QJsonObject RecordingPatient::fromHeaderField(const QByteArray& field)
{
    const QList<QByteArray> parts = field.trimmed().split(' ');
    // EDF+: code, sex, birth date, name, then anything else.
    if (parts.size() < 4)
        return {};
    QString sex;
    if (parts[1] == "M")
        sex = QStringLiteral("m");
    else if (parts[1] == "F")
        sex = QStringLiteral("f");
    QString birthday;
    if (parts[2] != "X") {
        // "21-JUL-1985": month names in English capitals.
        QString text = QString::fromLatin1(parts[2]).toLower();
        if (text.size() > 3)
            text[3] = text[3].toUpper();
        const QDate date = QLocale::c().toDate(text, QStringLiteral("dd-MMM-yyyy"));
        if (!date.isValid())
            return {};
        birthday = date.toString(Qt::ISODate);
    }
    return QJsonObject{{"PatientId", known(parts[0])},
                       {"Sex", sex},
                       {"BirthdayDate", birthday},
                       {"Name", known(parts[3])}};
}

QJsonObject RecordingPatient::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(patientFieldOffset))
        return {};
    const QByteArray field = file.read(patientFieldSize);
    if (field.size() != patientFieldSize)
        return {};
    return fromHeaderField(field);
}

} // namespace Tavrix::Archive
