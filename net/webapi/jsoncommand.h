#pragma once

#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandstatus.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonDocument>
#include <QObject>
#include <memory>

namespace Tavrix::Net::WebApi {

// Base of every web command. execute() either fails at once (code 1, nothing
// follows) or succeeds (code 0) and emits answerIsReady exactly once, later or
// already inside execute().
class JsonCommand : public QObject
{
    Q_OBJECT

public:
    explicit JsonCommand(std::shared_ptr<JsonCommandDescription> description, QObject* parent = nullptr);

    virtual std::shared_ptr<JsonCommandStatus> execute(std::shared_ptr<IJsonCommandInfo> info) = 0;

    const std::shared_ptr<JsonCommandDescription>& description() const { return m_description; }
    uint32_t uid() const { return m_uid; }

signals:
    void answerIsReady(JsonCommand* command, QJsonDocument answer, std::shared_ptr<JsonCommandStatus> statusInfo);

protected:
    std::shared_ptr<JsonCommandDescription> m_description;
    uint32_t m_uid = 0;
};

} // namespace Tavrix::Net::WebApi
