#include "archive/pacssettings.h"

#include <QDir>

namespace Tavrix::Archive {

bool PacsSettings::isAeTitle(const std::string& title)
{
    if (title.empty() || title.size() > 16 || title.find_first_not_of(' ') == std::string::npos)
        return false;
    for (const char c : title) {
        if (c < 0x20 || c > 0x7E || c == '\\')
            return false;
    }
    return true;
}

PacsSettings PacsSettings::fromVariantMap(const QVariantMap& settings, const QString& appDir)
{
    PacsSettings pacs;
    const QVariant value = settings.value(QStringLiteral("pacs"));
    if (!value.isValid() || value.isNull())
        return pacs;
    if (value.type() != QVariant::Map) {
        pacs.error = "\"pacs\" is not an object";
        return pacs;
    }
    const QVariantMap map = value.toMap();
    pacs.host = map.value(QStringLiteral("host")).toString().trimmed().toStdString();
    if (pacs.host.empty())
        return pacs;

    auto number = [&map](const char* key, int fallback, int low, int high, bool& ok) {
        const QVariant item = map.value(QLatin1String(key));
        ok = true;
        if (!item.isValid() || item.isNull())
            return fallback;
        bool converted = false;
        const double n = item.toDouble(&converted);
        // JSON numbers only: a port written as text is a mistake worth telling.
        const bool isNumber = item.type() == QVariant::Double || item.type() == QVariant::Int
                              || item.type() == QVariant::LongLong || item.type() == QVariant::UInt
                              || item.type() == QVariant::ULongLong;
        if (!isNumber || !converted || n != static_cast<int>(n) || n < low || n > high) {
            ok = false;
            return fallback;
        }
        return static_cast<int>(n);
    };
    bool ok = true;
    pacs.port = number("port", 104, 1, 65535, ok);
    if (!ok) {
        pacs.error = "\"pacs\" \"port\" must be a whole number from 1 to 65535";
        return pacs;
    }
    pacs.timeoutSeconds = number("timeoutSeconds", 30, 1, 3600, ok);
    if (!ok) {
        pacs.error = "\"pacs\" \"timeoutSeconds\" must be a whole number from 1 to 3600";
        return pacs;
    }
    pacs.calledAeTitle = map.value(QStringLiteral("calledAeTitle")).toString().toStdString();
    if (map.contains(QStringLiteral("callingAeTitle")))
        pacs.callingAeTitle = map.value(QStringLiteral("callingAeTitle")).toString().toStdString();
    if (!isAeTitle(pacs.calledAeTitle) || !isAeTitle(pacs.callingAeTitle)) {
        pacs.error = "\"pacs\" \"calledAeTitle\" and \"callingAeTitle\" must be 1 to 16 printable ASCII "
                     "characters without backslash";
        return pacs;
    }

    const QVariant tls = map.value(QStringLiteral("tls"));
    if (tls.isValid() && !tls.isNull()) {
        if (tls.type() != QVariant::Map) {
            pacs.error = "\"pacs\" \"tls\" is not an object";
            return pacs;
        }
        const QVariantMap files = tls.toMap();
        auto path = [&files, &appDir](const char* key) {
            const QString given = files.value(QLatin1String(key)).toString();
            return given.isEmpty() ? std::string() : QDir(appDir).absoluteFilePath(given).toStdString();
        };
        pacs.tls = true;
        pacs.certificate = path("certificate");
        pacs.privateKey = path("privateKey");
        pacs.trustedCa = path("trustedCa");
        if (pacs.trustedCa.empty()) {
            pacs.error = "\"pacs\" \"tls\" needs \"trustedCa\": the PACS's certificate is always checked";
            return pacs;
        }
        if (pacs.certificate.empty() != pacs.privateKey.empty()) {
            pacs.error = "\"pacs\" \"tls\" needs both \"certificate\" and \"privateKey\", or neither";
            return pacs;
        }
    }
    return pacs;
}

} // namespace Tavrix::Archive
