#pragma once

#include "common/diskreserve.h"
#include "archive/bdfsignalwriter.h"
#include "usb/adcchannelsmanager.h"
#include "usb/idecodedframesink.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// Records the decoded signal frames to BDF+ files, one signal per value of
// every streamed channel, at the recorder's frame rate.
//
// A file is "<directory>/recording-<time>.bdf.part" while it is written and
// is renamed to "recording-<time>.bdf" when it ends; recordingIsComplete
// announces it. The frames of other decoders (the cable adapter's) are held
// and written with every recorder frame, so all signals share one rate.
// Annotations mark button pushes, cable changes and lost frames (a jump in
// the recorder's frame numbers; the gap is filled with the last values so
// the file stays continuous). A lost recorder, a new channel layout (ECG
// mode change, reopened recorder) or a write error end the file with an
// annotation; a write error also raises a "CommandError".
class SignalRecorder : public QObject, public Usb::IDecodedFrameSink
{
    Q_OBJECT

public:
    struct StartRequest
    {
        int sampleRate = 0;
        std::vector<Usb::DecodedChannelLayout> layout;
        // Free text of the client, written to the header and as the first annotation.
        QString label;
        // The recorder's description name, for the equipment field.
        std::string equipment;
    };

    enum class EStartResult { Started, AlreadyRunning, NoSignals, BadSampleRate, FileError, NoSpace };

    // What one recording may take. A recording that reaches its duration
    // or size, or leaves less than the reserve free on its disk, ends
    // cleanly with that reason, as if stopped; while less than the reserve
    // is free none starts.
    struct Limits
    {
        static constexpr qint64 defaultMaxDurationMs = 24LL * 3600 * 1000;
        // A day of the largest layout is about 8 GiB.
        static constexpr qint64 defaultMaxBytes = 10LL * 1024 * 1024 * 1024;
        // Settings keys: hours and MiB, each a positive number.
        static constexpr const char* maxHoursSetting = "recordingMaxHours";
        static constexpr const char* maxMiBSetting = "recordingMaxMiB";

        qint64 maxDurationMs = defaultMaxDurationMs;
        qint64 maxBytes = defaultMaxBytes;
        Common::DiskReserve reserve;

        static Limits fromSettings(const QVariantMap& settings);
    };
    // The reasons a recording ends by its limits, as annotated and announced.
    static constexpr const char* maxDurationReason = "Maximum duration reached";
    static constexpr const char* maxSizeReason = "Maximum size reached";
    static constexpr const char* lowSpaceReason = "Free disk space below the reserve";

    struct Summary
    {
        QString fileName;
        qint64 size = 0;
        uint64_t samples = 0;
        double durationSeconds = 0;
        QDateTime start;
        // Why the file ended: "stopped" when asked to, else the cause.
        QString reason;
        QString url() const { return QStringLiteral("/recordings/") + fileName; }
    };

    explicit SignalRecorder(QString directory, QObject* parent = nullptr);
    ~SignalRecorder() override;

    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }

    // The channel manager that feeds this recorder; unregistered again when
    // the recorder goes.
    void attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels);

    // Opens a new file for the given layout. `detail` gets the file name on
    // success, else what went wrong.
    EStartResult start(const StartRequest& request, QString* detail);
    // Ends the running recording with `reason` ("stopped" for a client's
    // request); false when none runs. `summary` describes the file; its
    // fileName is empty when nothing whole was recorded (the file is removed).
    bool stop(const QString& reason, Summary* summary = nullptr);

    bool isRunning() const { return m_writer.isOpen(); }
    QString fileName() const { return m_fileName; }
    // The host time of the first sample, or of the start while none came.
    QDateTime since() const { return m_firstSample.isValid() ? m_firstSample : m_startRequested; }
    uint64_t samples() const { return isRunning() ? m_writer.samplesAdded() : 0; }
    // The recorder's own number of the newest frame recorded (16 bits, as
    // the frames carry it); none before the first frame.
    std::optional<uint16_t> lastFrameNumber() const
    {
        return isRunning() && m_haveFrameNumber ? std::optional<uint16_t>(m_lastFrameNumber) : std::nullopt;
    }
    qint64 bytesWritten() const;

    const QString& directory() const { return m_directory; }
    // Full path of a complete recording; empty for anything else.
    QString pathOf(const QString& fileName) const;
    // The newest complete recording's name; empty when there is none.
    QString latestFile() const;
    // The complete recordings, newest first: name, size, start, duration.
    // Each file's header is read once and kept while the file keeps its
    // size and time, so a long list costs a directory scan, not a parse.
    QJsonArray list() const;
    // The same list as compact JSON text, built from each file's text kept.
    QByteArray listJson() const;
    // name, size, start (ISO text), duration (seconds) of one BDF/EDF file.
    static QJsonObject describe(const QString& path);

    // Repairs and completes the ".part" files an earlier run left behind;
    // returns how many were completed.
    int repairUnfinished();

    // The BDF+ signals for a layout: labels, units and ranges. ECG leads get
    // lead names when `leadType` (an examination's lead set) names as many
    // leads as the channel has values, else numbers.
    // The lead set of the last accepted examination, if any.
    static std::optional<uint8_t> examinationLeadType();
    static std::vector<BdfSignalInfo> signalsFor(const std::vector<Usb::DecodedChannelLayout>& layout,
                                                 std::optional<uint8_t> leadType);

    void handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber) override;

signals:
    void recordingIsComplete(QString fileName, qint64 size, qint64 durationMs, QString reason);
    void signalError(std::string errorType, std::string message);

public slots:
    // The channel layout changed: the file ends, since its signals no longer match.
    void handleChannelLayoutChange(QString reason);
    void handleDeviceLost();
    void handleCableConnected();
    void handleCableRemoved();

private:
    struct Channel
    {
        DevicesInfo::DeviceChannelTypeInfo key;
        std::size_t firstSignal = 0;
        std::size_t count = 0;
    };

    void annotateNow(const std::string& text);
    // Tells the log what the file just closed could not hold.
    void logUnstoredAnnotations() const;
    void copyGroups(const Usb::FrameDecoder& decoder);
    bool writeCurrent();
    // Ends the file after a failed write; the service keeps streaming.
    void failWrite();
    QString uniqueName(const QDateTime& time) const;
    // Ends the recording when a data record took it to one of its limits.
    void checkLimits();
    QString partPath() const;

    QString m_directory;
    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
    BdfSignalWriter m_writer;
    QString m_fileName;
    QDateTime m_startRequested;
    QDateTime m_firstSample;
    std::vector<Channel> m_layout;
    std::vector<int32_t> m_values;
    bool m_haveFrameNumber = false;
    uint16_t m_lastFrameNumber = 0;
    Limits m_limits;
    uint64_t m_recordsChecked = 0;
    // What list() learnt of each file, by name in the file system's encoding.
    struct Described
    {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        QJsonObject entry;
        QByteArray json;
    };
    // The complete recordings, newest first; valid until the next scan.
    std::vector<const Described*> scan() const;
    mutable QHash<QByteArray, Described> m_described;
    // The last listJson() answer, the directory time it was made for and
    // when its scan began.
    mutable QByteArray m_listAnswer;
    mutable qint64 m_listDirectoryNs = -1;
    mutable qint64 m_listScannedNs = 0;
};

} // namespace Tavrix::Archive
