#pragma once

namespace Tavrix::Usb {

// Arguments handed to a complex command creator; creators cast to the exact
// type they were registered for.
class IComplexCommandCreateData
{
public:
    virtual ~IComplexCommandCreateData();
};

} // namespace Tavrix::Usb
