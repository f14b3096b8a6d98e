#include "usb/complexcommandfactory.h"

#include "common/stringextensions.h"

namespace Tavrix::Usb {

void ComplexCommandFactory::add(const std::string& handlerName,
                                std::shared_ptr<IComplexCommandCreator> creator)
{
    m_creators[handlerName] = std::move(creator);
}

std::shared_ptr<IComplexCommandCreator> ComplexCommandFactory::find(const std::string& handlerName) const
{
    const auto exact = m_creators.find(handlerName);
    if (exact != m_creators.end())
        return exact->second;
    for (const auto& [name, creator] : m_creators) {
        if (Common::StringExtensions::isEqualsInsensitive(name, handlerName))
            return creator;
    }
    return {};
}

} // namespace Tavrix::Usb
