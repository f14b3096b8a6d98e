#pragma once

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// Fills both registries once at start-up, after the USB worker exists and
// before the HTTP server starts: the device operations under their handler
// names, and the web commands under their command names.
class DeviceCommandLinker
{
public:
    static void createLink(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);
};

} // namespace Tavrix::DeviceWebApi
