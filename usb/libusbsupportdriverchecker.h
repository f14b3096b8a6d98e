#pragma once

namespace Tavrix::Usb {

// Whether the device's driver can be driven through libusb. On Linux every
// device behind usbfs can, so this accepts every vendor/product pair.
class LibusbSupportDriverChecker
{
public:
    static bool isLibusbSupported(unsigned short vendorId, unsigned short productId);
};

} // namespace Tavrix::Usb
