#pragma once

#include <QString>
#include <memory>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}

namespace Tavrix::Archive {

class RestingEcgArchive;

// Makes the resting ECG archive from the settings.json beside the
// executable and feeds it the worker's decoded frames and connection changes.
class RestingEcgLink
{
public:
    // Its owner keeps it while the worker runs.
    static std::unique_ptr<RestingEcgArchive> createArchive(Usb::UsbEventLoopWorker& worker, const QString& directory);
};

} // namespace Tavrix::Archive
