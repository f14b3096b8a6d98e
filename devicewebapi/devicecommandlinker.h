#pragma once

#include <memory>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::Archive {
class FlashReadoutStore;
class RestingEcgArchive;
class SignalRecorder;
} // namespace Tavrix::Archive

namespace Tavrix::DeviceWebApi {

class BeatDetectorLink;

// The services beside the USB worker that web commands use. Whoever links
// (the composition root, a test) makes and owns them, and keeps them while
// the web commands live.
struct LinkServices
{
    LinkServices();
    ~LinkServices();
    LinkServices(LinkServices&&) noexcept;
    LinkServices& operator=(LinkServices&&) noexcept;

    // The read-out store fed by the worker's data listener and the signal
    // recorder fed by its channel manager, both in their directories beside
    // the executable.
    static LinkServices create(Usb::UsbEventLoopWorker& worker);

    std::unique_ptr<Archive::FlashReadoutStore> readouts;
    std::unique_ptr<Archive::SignalRecorder> recorder;
    // The live beat detector, fed by the same channel manager.
    std::unique_ptr<BeatDetectorLink> beats;
    // Resting ECGs, written beside the recordings and sent to the PACS.
    std::unique_ptr<Archive::RestingEcgArchive> restingEcg;
};

// Fills both registries once at start-up, after the USB worker exists and
// before the HTTP server starts, from the rows of operationBindings(): the
// device operations under their handler names, and the web commands under
// their command names.
class DeviceCommandLinker
{
public:
    static void createLink(Usb::UsbEventLoopWorker& worker,
                           Net::WebApi::JsonCommandFactory& factory,
                           const LinkServices& services);
};

} // namespace Tavrix::DeviceWebApi
