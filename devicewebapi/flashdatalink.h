#pragma once

#include <QString>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

// Registers the device operations for flash address operations and the memory read-out: their complex command creators
// (through the worker's device manager) and their web commands.
class FlashReadoutStore;

// The read-outs themselves go to a FlashReadoutStore in the directory "flash"
// beside the executable, fed by the worker's data listener; readoutStore()
// gives it to the composition root (event message, HTTP route).
class FlashDataLink
{
public:
    static void link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);

    // The store made by the last link(); null before. Owned by the worker.
    static FlashReadoutStore* readoutStore();
    // "<executable directory>/flash".
    static QString readoutDirectory();
    // How many read-outs the store keeps: "flashReadoutsKept" of the
    // settings.json beside the executable, 20 when absent or not a number >= 1.
    static int readoutsToKeep();
};

} // namespace Tavrix::DeviceWebApi
