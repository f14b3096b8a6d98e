#include "net/webapi/jsonwebapicommandwrapper.h"

namespace Tavrix::Net::WebApi {

JsonWebApiCommandWrapper::JsonWebApiCommandWrapper(std::shared_ptr<JsonCommand> command, QTcpSocket* socket,
                                                   QObject* parent)
    : QObject(parent)
    , m_command(std::move(command))
    , m_socket(socket)
{
    registerJsonCommandMetaTypes();
    if (m_command)
        connect(m_command.get(), &JsonCommand::answerIsReady, this,
                &JsonWebApiCommandWrapper::handleCommandAnswerIsReady);
}

void JsonWebApiCommandWrapper::handleCommandAnswerIsReady(JsonCommand*, QJsonDocument answer,
                                                          std::shared_ptr<JsonCommandStatus> status)
{
    // One request, one answer, even from a command that answers twice.
    if (m_answered)
        return;
    m_answered = true;
    emit answerIsReady(this, answer, status);
}

} // namespace Tavrix::Net::WebApi
