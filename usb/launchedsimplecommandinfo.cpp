#include "usb/launchedsimplecommandinfo.h"

#include <utility>

namespace Tavrix::Usb {

LaunchedSimpleCommandInfo::LaunchedSimpleCommandInfo(const std::string& name_, uint32_t uid_,
                                                     std::vector<uint8_t> data_)
    : name(name_)
    , uid(uid_)
    , data(std::move(data_))
{
}

} // namespace Tavrix::Usb
