#pragma once

#include "net/webapi/parsinghttp.h"

#include <QMap>

namespace Tavrix::Net::WebApi {

// Builds a whole response; every ret… operation replaces the message and
// leaves the bytes to send in m_raw.
class MakeResponse : public ParsingHttp
{
public:
    void ret200();
    void ret200(const QString& extension, const QByteArray& body);
    void ret200Options();
    void retSse();
    void ret404(const QString& path);
    void ret500();
    void ret501();
    void retError(const QString& status);
    // Refusals of the access checks.
    void ret401();
    void ret403();

    // Extension -> content type; unknown extensions fall back to "txt".
    static const QMap<QString, QString>& getMapExt();
    static QString contentType(const QString& extension);

private:
    void start(const QString& status);
    void addCorsHeaders();
};

} // namespace Tavrix::Net::WebApi
