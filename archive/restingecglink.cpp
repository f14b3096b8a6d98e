#include "archive/restingecglink.h"

#include "analysis/qrsdetector.h"
#include "archive/restingecgarchive.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace Tavrix::Archive {

namespace {

// The live detector's code, run once over a taken span: every lead, in mV.
std::vector<long> detectBeats(const std::vector<std::vector<double>>& leads, int sampleRate)
{
    std::vector<long> found;
    if (leads.empty() || leads.front().empty() || sampleRate <= 0)
        return found;
    const std::size_t frames = leads.front().size();
    std::vector<float> interleaved;
    interleaved.reserve(frames * leads.size());
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (const std::vector<double>& lead : leads)
            interleaved.push_back(frame < lead.size() ? static_cast<float>(lead[frame] / 1000.0) : 0.0F);
    }
    Analysis::QrsDetector detector(sampleRate, static_cast<int>(leads.size()));
    std::vector<Analysis::QrsDetector::Beat> beats;
    detector.process(interleaved.data(), static_cast<int64_t>(frames), beats);
    detector.finish(beats);
    for (const Analysis::QrsDetector::Beat& beat : beats)
        found.push_back(static_cast<long>(beat.sample));
    return found;
}

} // namespace

std::unique_ptr<RestingEcgArchive> RestingEcgLink::createArchive(Usb::UsbEventLoopWorker& worker,
                                                                 const QString& directory)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QFile file(QDir(appDir).filePath(QStringLiteral("settings.json")));
    QVariantMap settings;
    if (file.open(QIODevice::ReadOnly))
        settings = QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
    std::unique_ptr<RestingEcgArchive> archive = RestingEcgArchive::fromSettings(settings, appDir, directory);
    archive->attach(worker.channelsManager());
    archive->setBeatDetector(&detectBeats);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, archive.get(),
                     &RestingEcgArchive::handleDeviceLost);
    return archive;
}

} // namespace Tavrix::Archive
