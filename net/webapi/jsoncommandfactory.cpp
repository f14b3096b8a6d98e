#include "net/webapi/jsoncommandfactory.h"

#include "common/stringcomparer.h"

namespace Tavrix::Net::WebApi {

void JsonCommandFactory::add(std::shared_ptr<JsonCommandDescription> description,
                             std::shared_ptr<IJsonCommandCreator> creator)
{
    if (!description || !creator)
        return;
    const std::string name = description->name();
    m_items[name] = std::make_shared<JsonCommandFactoryItem>(JsonCommandFactoryItem{std::move(description),
                                                                                    std::move(creator)});
}

std::shared_ptr<JsonCommandFactoryItem> JsonCommandFactory::find(const std::string& name) const
{
    for (const auto& [key, item] : m_items) {
        if (Common::StringComparer::isEqualsInsensitive(key, name))
            return item;
    }
    return nullptr;
}

} // namespace Tavrix::Net::WebApi
