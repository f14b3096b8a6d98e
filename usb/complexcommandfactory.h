#pragma once

#include "usb/icomplexcommandcreator.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace Tavrix::Usb {

// Creators of device-specific complex commands, by handler name. Filled once
// at start-up and only read afterwards, so it has no lock.
class ComplexCommandFactory
{
public:
    // Replaces an entry stored under exactly the same name.
    void add(const std::string& handlerName, std::shared_ptr<IComplexCommandCreator> creator);
    // The first entry whose name equals handlerName ignoring letter case;
    // empty when there is none.
    std::shared_ptr<IComplexCommandCreator> find(const std::string& handlerName) const;

    const std::unordered_map<std::string, std::shared_ptr<IComplexCommandCreator>>& creators() const
    {
        return m_creators;
    }

private:
    std::unordered_map<std::string, std::shared_ptr<IComplexCommandCreator>> m_creators;
};

} // namespace Tavrix::Usb
