#include "usb/libusbsupportdriverchecker.h"

namespace Tavrix::Usb {

bool LibusbSupportDriverChecker::isLibusbSupported(unsigned short vendorId, unsigned short productId)
{
    (void)vendorId;
    (void)productId;
    return true;
}

} // namespace Tavrix::Usb
