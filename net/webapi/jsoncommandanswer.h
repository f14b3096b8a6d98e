#pragma once

#include "net/webapi/jsoncommandstatus.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

namespace Tavrix::Net::WebApi {

class JsonWebApiCommandWrapper;
class MakeResponse;

// The JSON envelopes of the "cmd" route. Members come out in name order,
// serialised compactly.
class JsonCommandAnswer
{
public:
    // "data" is the document's object or array, else null.
    static QJsonObject success(uint32_t uid, const QJsonDocument& answer);
    static QJsonObject failureAfterStart(uint32_t uid, const std::string& errorCode);
    static QJsonObject failureBeforeStart(const QString& cmd, uint32_t uid, const std::string& errorCode);
    // Success for code 0, otherwise the failure after start with the status's
    // error code ("UNKNOWN_ERROR" for a status without one).
    static QJsonObject fromStatus(uint32_t uid, const QJsonDocument& answer, const JsonCommandStatus* status);
    static QByteArray toBytes(const QJsonObject& object);

    // Writes the answer of a finished factory command to its client as
    // "200 OK" JSON, closes the connection and releases the wrapper (later:
    // this may run inside the command's execute()).
    static void write(MakeResponse& response, JsonWebApiCommandWrapper* wrapper, const QJsonDocument& answer,
                      const std::shared_ptr<JsonCommandStatus>& status);
};

} // namespace Tavrix::Net::WebApi
