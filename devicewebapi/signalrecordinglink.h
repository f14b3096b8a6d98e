#pragma once

#include <QString>
#include <QVariantMap>

namespace Tavrix::Usb {
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

class SignalRecorder;

// Makes the signal recorder, feeds it the worker's decoded frames and
// connection changes, completes what an earlier run left unfinished, and
// registers "StartSignalRecording", "StopSignalRecording" and
// "GetSignalRecordingState".
class SignalRecordingLink
{
public:
    static constexpr const char* directorySetting = "recordingsDirectory";

    static void link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory);

    // The recorder made by the last link(); null before. Owned by the worker.
    static SignalRecorder* recorder();
    // `directorySetting` of the settings.json beside the executable: an
    // absolute path, or one relative to the executable's directory;
    // "<executable directory>/recordings" when absent or empty.
    static QString recordingsDirectory();
    static QString directoryFrom(const QVariantMap& settings, const QString& appDir);
};

} // namespace Tavrix::DeviceWebApi
