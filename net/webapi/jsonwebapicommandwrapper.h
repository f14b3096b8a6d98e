#pragma once

#include "net/webapi/jsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"

#include <QPointer>
#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

// Keeps a running web command together with the connection its answer is
// for; re-emits the command's answer with itself as the sender.
class JsonWebApiCommandWrapper : public QObject
{
    Q_OBJECT

public:
    JsonWebApiCommandWrapper(std::shared_ptr<JsonCommand> command, QTcpSocket* socket, QObject* parent = nullptr);

    const std::shared_ptr<JsonCommand>& command() const { return m_command; }
    // Null once the client's connection is gone.
    QTcpSocket* socket() const { return m_socket.data(); }

    // Creates the item's command, connects its answer through a new wrapper to
    // `receiver`'s `slot` (before execute: a command may answer inside it) and
    // executes it. Returns false when execute failed; the wrapper is then
    // discarded and the caller answers, with the status execute() gave in
    // `failure` when asked (null when no command could be made). The slot
    // should release the wrapper with deleteLater(): it may run inside execute().
    template<typename Receiver, typename Slot>
    static bool start(const JsonCommandFactoryItem& item, std::shared_ptr<IJsonCommandInfo> info,
                      QTcpSocket* socket, Receiver* receiver, Slot slot,
                      std::shared_ptr<JsonCommandStatus>* failure = nullptr);

signals:
    void answerIsReady(JsonWebApiCommandWrapper* command, QJsonDocument answer,
                       std::shared_ptr<JsonCommandStatus> status);

public slots:
    void handleCommandAnswerIsReady(JsonCommand* command, QJsonDocument answer,
                                    std::shared_ptr<JsonCommandStatus> status);

private:
    std::shared_ptr<JsonCommand> m_command;
    // Guarded: the client may leave, and its socket be deleted, before the answer.
    QPointer<QTcpSocket> m_socket;
    bool m_answered = false;
};

template<typename Receiver, typename Slot>
bool JsonWebApiCommandWrapper::start(const JsonCommandFactoryItem& item, std::shared_ptr<IJsonCommandInfo> info,
                                     QTcpSocket* socket, Receiver* receiver, Slot slot,
                                     std::shared_ptr<JsonCommandStatus>* failure)
{
    // The local copy keeps the command alive while execute() runs, even if it
    // answers inside and the wrapper is released.
    const std::shared_ptr<JsonCommand> command = item.m_creator ? item.m_creator->create() : nullptr;
    if (!command)
        return false;
    auto* wrapper = new JsonWebApiCommandWrapper(command, socket);
    QObject::connect(wrapper, &JsonWebApiCommandWrapper::answerIsReady, receiver, slot);
    const std::shared_ptr<JsonCommandStatus> status = command->execute(std::move(info));
    if (!status || status->code() != 0) {
        if (failure)
            *failure = status;
        wrapper->disconnect();
        wrapper->deleteLater();
        return false;
    }
    return true;
}

} // namespace Tavrix::Net::WebApi
