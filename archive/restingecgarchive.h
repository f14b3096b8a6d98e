#pragma once

#include "archive/archivespace.h"

#include "archive/pacsclient.h"
#include "archive/pacssettings.h"
#include "archive/restingecgtake.h"
#include "usb/adcchannelsmanager.h"
#include "usb/idecodedframesink.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// Resting ECGs as a clinic takes them: a span of the live ECG written as a
// DICOM ECG file in the recordings directory ("ecg-<time>.dcm") and sent to
// the configured PACS. One take at a time; sends run one after the other on
// a thread of their own, so a slow PACS never holds up the signal streams.
// A file that did not reach the PACS stays, and can be sent again.
class RestingEcgArchive : public QObject, public Usb::IDecodedFrameSink
{
    Q_OBJECT

public:
    static constexpr int minSeconds = 5;
    static constexpr int maxSeconds = 60;
    static constexpr int defaultSeconds = 10;
    // A take with no recorder frame for this long ends as TIMEOUT.
    static constexpr int silenceLimitSeconds = 10;

    struct TakeRequest
    {
        int seconds = defaultSeconds;
        int recorderRate = 0;
        std::vector<Usb::DecodedChannelLayout> layout;
        std::string model;
        std::string serialNumber;
        std::vector<std::string> versions;
    };

    // How a take or a send ended. errorCode is empty when the file exists
    // (whatever became of the send); `pacs` tells the send.
    struct Outcome
    {
        quint64 id = 0;
        QString errorCode;
        QString errorText;
        QString fileName;
        PacsResult pacs;

        bool ok() const { return errorCode.isEmpty(); }
        // {"FileName", "Url", "Sent", "PacsStatus"} and "errortext" when not sent.
        QJsonObject answer() const;
    };

    // Beat positions (sample indices) found in the leads at `sampleRate`;
    // the file then carries the heart rate.
    using BeatDetector =
        std::function<std::vector<long>(const std::vector<std::vector<double>>& leads, int sampleRate)>;

    RestingEcgArchive(QString directory, PacsSettings pacs, std::string uidRoot = {}, std::string institution = {},
                      QObject* parent = nullptr);
    ~RestingEcgArchive() override;

    // Reads "pacs", "dicomUidRoot" and "institutionName" of settings.json.
    static std::unique_ptr<RestingEcgArchive> fromSettings(const QVariantMap& settings, const QString& appDir,
                                                           const QString& directory);

    // The channel manager whose frames are taken; the tap is removed again
    // when the archive goes.
    void attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels);
    void setBeatDetector(BeatDetector detector) { m_beatDetector = std::move(detector); }
    void setSpace(ArchiveSpace space) { m_space = space; }

    // Starts a take; its Outcome comes with outcomeIsReady under the id
    // returned. 0 when it cannot start: `refusal` says why.
    quint64 take(const TakeRequest& request, Outcome* refusal);
    // Sends a stored file again; the same way.
    quint64 sendAgain(const QString& fileName, Outcome* refusal);

    bool isTaking() const { return m_take != nullptr; }
    const PacsSettings& pacs() const { return m_pacs; }
    const QString& directory() const { return m_directory; }
    // Full path of a resting ECG file by name; empty for anything else.
    QString pathOf(const QString& fileName) const;
    // The resting ECG files, newest first: name, size, start, duration and
    // what the last send did ("pacsStatus"), where known.
    QJsonArray list() const;

    void handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber) override;

signals:
    void outcomeIsReady(const Tavrix::Archive::RestingEcgArchive::Outcome& outcome);
    // For the event stream: {"type": "restingEcg", "file", "url", "sent",
    // "pacsStatus", "errortext"}.
    void archiveEvent(QJsonObject event);
    void signalError(std::string errorType, std::string message);

public slots:
    void handleChannelLayoutChange(QString reason);
    void handleDeviceLost();

private:
    struct Take;

    void failTake(const QString& code, const QString& text);
    void finishTake();
    void send(quint64 id, const QString& fileName);
    void handleSent(quint64 id, const QString& fileName, const PacsResult& result);
    void deliver(const Outcome& outcome);
    void checkSilence();
    QString uniqueName(const QDateTime& time) const;

    QString m_directory;
    PacsSettings m_pacs;
    std::string m_uidRoot;
    std::string m_institution;
    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
    BeatDetector m_beatDetector;
    ArchiveSpace m_space;
    std::unique_ptr<Take> m_take;
    quint64 m_nextId = 1;
    QTimer m_silenceTimer;
    QHash<QString, QString> m_pacsStatus;
    QThread m_pacsThread;
    QObject* m_pacsWorker = nullptr;
};

} // namespace Tavrix::Archive
