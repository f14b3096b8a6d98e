#include "net/webapi/jsoncommand.h"

namespace Tavrix::Net::WebApi {

void registerJsonCommandMetaTypes()
{
    qRegisterMetaType<std::shared_ptr<JsonCommandStatus>>("std::shared_ptr<JsonCommandStatus>");
}

JsonCommand::JsonCommand(std::shared_ptr<JsonCommandDescription> description, QObject* parent)
    : QObject(parent)
    , m_description(std::move(description))
{
    registerJsonCommandMetaTypes();
}

} // namespace Tavrix::Net::WebApi
