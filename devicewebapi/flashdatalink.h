#pragma once

#include <QString>
#include <memory>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}

namespace Tavrix::Archive {
class FlashReadoutStore;
} // namespace Tavrix::Archive

namespace Tavrix::DeviceWebApi {


// Where memory read-outs go: a FlashReadoutStore in the directory "flash"
// beside the executable, fed by the worker's data listener.
class FlashDataLink
{
public:
    // The store, fed by the worker's data listener and told when the
    // recorder is lost; its owner keeps it while the worker runs.
    static std::unique_ptr<Archive::FlashReadoutStore> createStore(Usb::UsbEventLoopWorker& worker);
    // "<executable directory>/flash".
    static QString readoutDirectory();
    // How many read-outs the store keeps: "flashReadoutsKept" of the
    // settings.json beside the executable, 20 when absent or not a number >= 1.
    static int readoutsToKeep();
};

} // namespace Tavrix::DeviceWebApi
