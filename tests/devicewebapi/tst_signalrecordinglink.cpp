#include "devicewebapi/signalrecordinglink.h"

#include <gtest/gtest.h>

using Tavrix::DeviceWebApi::SignalRecordingLink;

TEST(SignalRecordingLink, RecordingsDirectoryComesFromTheSettings)
{
    const QString app = "/opt/dastel";
    const std::vector<std::pair<QVariantMap, QString>> cases = {
        {{}, "/opt/dastel/recordings"},
        {{{"recordingsDirectory", ""}}, "/opt/dastel/recordings"},
        {{{"recordingsDirectory", "data/ecg"}}, "/opt/dastel/data/ecg"},
        {{{"recordingsDirectory", "../ecg/"}}, "/opt/ecg"},
        {{{"recordingsDirectory", "/var/lib/dastel/ecg"}}, "/var/lib/dastel/ecg"},
        // Not a text: the default, as for the other optional settings.
        {{{"recordingsDirectory", QVariantList{"a"}}}, "/opt/dastel/recordings"},
    };
    for (const auto& [settings, expected] : cases)
        EXPECT_EQ(SignalRecordingLink::directoryFrom(settings, app).toStdString(), expected.toStdString())
            << settings.value("recordingsDirectory").toString().toStdString();
}
