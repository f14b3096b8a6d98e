#include "devicewebapi/getcmdlistjsoncommand.h"

#include "net/webapi/jsoncommandfactory.h"

#include <QJsonArray>
#include <QJsonParseError>
#include <iostream>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

GetCmdListJsonCommand::GetCmdListJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                             JsonCommandFactory* factory)
    : DeviceComplexJsonCommand(std::move(description))
    , m_factory(factory)
{
}

std::shared_ptr<JsonCommandDescription> GetCmdListJsonCommand::createCommandDescription()
{
    auto answer = std::make_shared<NamelessJsonCommandObjectUnit>(
        JsonCommandUnits{std::make_shared<JsonCommandUnit>("CmdList", EJsonUnitType::String)});
    return std::make_shared<JsonCommandDescription>("GetCmdList", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    answer);
}

DeviceComplexJsonCommand::JsonCommandStatusPtr GetCmdListJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    m_uid = info ? info->m_uid : 0;
    QJsonArray list;
    if (m_factory) {
        for (const auto& entry : *m_factory) {
            if (entry.second && entry.second->m_description)
                list.append(createJsonObject(entry.second->m_description->toString(0, true)));
        }
    }
    emit answerIsReady(this, QJsonDocument(list), std::make_shared<OkJsonCommandStatus>());
    return std::make_shared<OkJsonCommandStatus>();
}

QJsonObject GetCmdListJsonCommand::createJsonObject(const std::string& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (error.error != QJsonParseError::NoError) {
        std::cout << "createJsonObject error: Invalid JSON! text: " << text << std::endl;
        return QJsonObject();
    }
    if (!document.isObject()) {
        std::cout << "createJsonObject error: Document is not an object! text: " << text << std::endl;
        return QJsonObject();
    }
    return document.object();
}

} // namespace Tavrix::DeviceWebApi
