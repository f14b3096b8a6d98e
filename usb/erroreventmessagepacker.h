#pragma once

#include "usb/ieventmessagepacker.h"

#include <string>

namespace Tavrix::Usb {

// An error clients must hear of, with its type and text.
class ErrorEventMessagePacker : public IEventMessagePacker
{
public:
    ErrorEventMessagePacker(std::string errorType, std::string message);

    void pack(Common::MessagePacker& packer) override;

private:
    std::string m_errorType;
    std::string m_message;
};

} // namespace Tavrix::Usb
