#include "devicewebapi/latintransliteration.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace Tavrix::DeviceWebApi {

namespace {

// Small letters only; capitals are looked up by their small letter.
const QHash<uint, QString>& table()
{
    static const QHash<uint, QString> letters = [] {
        QHash<uint, QString> t;
        const std::pair<const char*, const char*> rows[] = {
            // Cyrillic (Russian, then Belarusian, Ukrainian, Serbian, Macedonian)
            {"а", "a"}, {"б", "b"}, {"в", "v"}, {"г", "g"}, {"д", "d"}, {"е", "e"}, {"ё", "e"},
            {"ж", "zh"}, {"з", "z"}, {"и", "i"}, {"й", "i"}, {"к", "k"}, {"л", "l"}, {"м", "m"},
            {"н", "n"}, {"о", "o"}, {"п", "p"}, {"р", "r"}, {"с", "s"}, {"т", "t"}, {"у", "u"},
            {"ф", "f"}, {"х", "kh"}, {"ц", "ts"}, {"ч", "ch"}, {"ш", "sh"}, {"щ", "shch"},
            {"ъ", "ie"}, {"ы", "y"}, {"ь", ""}, {"э", "e"}, {"ю", "iu"}, {"я", "ia"},
            {"ў", "u"}, {"ґ", "g"}, {"є", "ie"}, {"і", "i"}, {"ї", "i"}, {"ђ", "d"}, {"ѓ", "g"},
            {"ѕ", "dz"}, {"ј", "j"}, {"љ", "lj"}, {"њ", "nj"}, {"ћ", "c"}, {"ќ", "k"}, {"џ", "dz"},
            // Latin letters the scheme writes with two letters or another letter
            {"ä", "ae"}, {"å", "aa"}, {"æ", "ae"}, {"ö", "oe"}, {"ø", "oe"}, {"œ", "oe"},
            {"ü", "ue"}, {"ß", "ss"}, {"þ", "th"}, {"ð", "d"}, {"đ", "d"}, {"ł", "l"},
            {"ı", "i"}, {"ĳ", "ij"}, {"ŋ", "n"},
        };
        for (const auto& [from, to] : rows)
            t.insert(QString::fromUtf8(from).toUcs4().front(), QString::fromLatin1(to));
        return t;
    }();
    return letters;
}

// A letter with diacritics written as its base letter (é → e, Ñ → N);
// nothing when it has no ASCII base letter.
QString baseLetter(uint codePoint)
{
    const QString decomposed = QString::fromUcs4(&codePoint, 1).normalized(QString::NormalizationForm_KD);
    QString base;
    for (const QChar c : decomposed) {
        if (c.unicode() < 128)
            base += c;
        else if (c.category() != QChar::Mark_NonSpacing)
            return QString();
    }
    return base;
}

} // namespace

std::string LatinTransliteration::toLatin(const std::string& text)
{
    const QVector<uint> codePoints = QString::fromStdString(text).toUcs4();
    QString out;
    for (int i = 0; i < codePoints.size(); ++i) {
        const uint codePoint = codePoints[i];
        if (codePoint < 128) {
            out += QChar(static_cast<ushort>(codePoint));
            continue;
        }
        const QString letter = QString::fromUcs4(&codePoint, 1);
        const QString small = letter.toLower();
        const bool capital = small != letter;
        QString latin = table().value(small.toUcs4().value(0), QStringLiteral("\x01"));
        if (latin == QLatin1String("\x01"))
            latin = baseLetter(small.toUcs4().value(0));
        if (latin.isEmpty() && !table().contains(small.toUcs4().value(0))) {
            out += letter; // not covered: left for the caller to deal with
            continue;
        }
        if (capital && !latin.isEmpty()) {
            // "Жуков" → "Zhukov", "ЖУКОВ" → "ZHUKOV".
            const bool nextSmall = i + 1 < codePoints.size()
                                   && QString::fromUcs4(&codePoints[i + 1], 1).toUpper()
                                          != QString::fromUcs4(&codePoints[i + 1], 1);
            latin = nextSmall ? latin.left(1).toUpper() + latin.mid(1) : latin.toUpper();
        }
        out += latin;
    }
    return out.toStdString();
}

} // namespace Tavrix::DeviceWebApi
