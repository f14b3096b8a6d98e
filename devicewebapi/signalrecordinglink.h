#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}

namespace Tavrix::Archive {
class SignalRecorder;
} // namespace Tavrix::Archive

namespace Tavrix::DeviceWebApi {


// Makes the signal recorder: feeds it the worker's decoded frames and
// connection changes and completes what an earlier run left unfinished.
class SignalRecordingLink
{
public:
    static constexpr const char* directorySetting = "recordingsDirectory";

    // Its owner keeps it while the worker runs.
    static std::unique_ptr<Archive::SignalRecorder> createRecorder(Usb::UsbEventLoopWorker& worker);
    // `directorySetting` of the settings.json beside the executable: an
    // absolute path, or one relative to the executable's directory;
    // "<executable directory>/recordings" when absent or empty.
    static QString recordingsDirectory();
    static QString directoryFrom(const QVariantMap& settings, const QString& appDir);
};

} // namespace Tavrix::DeviceWebApi
