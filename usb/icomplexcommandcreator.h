#pragma once

#include <memory>

namespace Tavrix::Usb {

class ComplexCommand;
class IComplexCommandCreateData;

// Makes one device-specific complex command from its create data.
class IComplexCommandCreator
{
public:
    virtual ~IComplexCommandCreator();
    // Empty when the data is not of the type the creator was registered for.
    virtual std::shared_ptr<ComplexCommand> create(std::shared_ptr<IComplexCommandCreateData> data) = 0;
};

} // namespace Tavrix::Usb
