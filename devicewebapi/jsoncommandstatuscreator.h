#pragma once

#include "net/webapi/jsoncommandstatus.h"
#include "usb/devicecommand.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class DeviceCommandStatus;
}

namespace Tavrix::DeviceWebApi {

// Turns the outcome of a device exchange into the status of a web command.
// A malformed answer keeps its frame bytes (not shown to clients, kept for
// whoever inspects the status).
class JsonCommandStatusCreator
{
public:
    // A null status counts as UNKNOWN_ERROR: a web command must never report
    // success for an outcome it did not get. A failure that carries a text
    // (DeviceCommandStatusInfo<std::string>) keeps it as the error text.
    static std::shared_ptr<Net::WebApi::JsonCommandStatus> create(std::shared_ptr<Usb::DeviceCommandStatus> status);
    static std::shared_ptr<Net::WebApi::JsonCommandStatus> create(Usb::DeviceCommand::EStatus code);
    static std::shared_ptr<Net::WebApi::JsonCommandStatus> create(Usb::DeviceCommand::EStatus code,
                                                                  const std::vector<uint8_t>& data);

    // The status name of a code ("OK" … "WRONG_FRAME_FORMAT"); "UNKNOWN_ERROR"
    // for a value outside the enumeration, so an error never has an empty code.
    static std::string statusName(Usb::DeviceCommand::EStatus code);
};

} // namespace Tavrix::DeviceWebApi
