#include "net/webapi/jsoncommandanswer.h"

#include "net/webapi/exeget.h"
#include "net/webapi/jsonwebapicommandwrapper.h"

#include <QJsonArray>
#include <QJsonValue>

namespace Tavrix::Net::WebApi {

QJsonObject JsonCommandAnswer::success(uint32_t uid, const QJsonDocument& answer)
{
    QJsonObject object;
    object.insert("uid", static_cast<qint64>(uid));
    if (answer.isObject())
        object.insert("data", answer.object());
    else if (answer.isArray())
        object.insert("data", answer.array());
    else
        object.insert("data", QJsonValue(QJsonValue::Null));
    object.insert("status", "ok");
    return object;
}

QJsonObject JsonCommandAnswer::failureAfterStart(uint32_t uid, const std::string& errorCode)
{
    QJsonObject object;
    object.insert("uid", static_cast<qint64>(uid));
    object.insert("status", "error");
    object.insert("errorcode", QString::fromStdString(errorCode));
    return object;
}

QJsonObject JsonCommandAnswer::failureBeforeStart(const QString& cmd, uint32_t uid, const std::string& errorCode)
{
    QJsonObject object = failureAfterStart(uid, errorCode);
    object.insert("cmd", cmd);
    return object;
}

QJsonObject JsonCommandAnswer::fromStatus(uint32_t uid, const QJsonDocument& answer, const JsonCommandStatus* status)
{
    if (status && status->code() == 0)
        return success(uid, answer);
    const auto* error = dynamic_cast<const ErrorJsonCommandStatus*>(status);
    QJsonObject object = failureAfterStart(uid, error ? error->errorCode() : std::string("UNKNOWN_ERROR"));
    if (error && !error->errorText().empty())
        object.insert("errortext", QString::fromStdString(error->errorText()));
    return object;
}

QByteArray JsonCommandAnswer::toBytes(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void JsonCommandAnswer::write(MakeResponse& response, JsonWebApiCommandWrapper* wrapper, const QJsonDocument& answer,
                              const std::shared_ptr<JsonCommandStatus>& status)
{
    if (!wrapper)
        return;
    const uint32_t uid = wrapper->command() ? wrapper->command()->uid() : 0;
    response.ret200(QStringLiteral("json"), toBytes(fromStatus(uid, answer, status.get())));
    writeAndClose(wrapper->socket(), response);
    wrapper->deleteLater();
}

} // namespace Tavrix::Net::WebApi
