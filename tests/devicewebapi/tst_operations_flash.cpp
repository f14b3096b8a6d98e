// The memory read-out end to end: the count, the read-out through the real
// libusb path into a file beside the service, byte for byte.

#include "serviceclient.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

using ServiceTesting::PendingRequest;

namespace {

class FlashOperationsTest : public ServiceTesting::ServiceFixture
{
protected:
    QString finishedReadout(int timeoutMs)
    {
        const QDir dir(QDir(service.directory()).filePath("flash"));
        QString name;
        waitFor([&] {
            const QStringList files = dir.entryList({"readout-*.bin"}, QDir::Files);
            if (files.isEmpty())
                return false;
            name = dir.filePath(files.first());
            return true;
        }, timeoutMs);
        return name;
    }
};

TEST_F(FlashOperationsTest, ReadOutArrivesCompleteAndByteIdentical)
{
    const uint64_t minimum = 0x1000;
    const uint64_t writtenMax = minimum + 3 * 1024 * 1024 + 1234 - 1;
    control("set flashMax 0x800000");
    control("set flashMin " + std::to_string(minimum));
    control("set flashWrittenMax " + std::to_string(writtenMax));
    // The last written byte set apart from the pattern: it must arrive too.
    control("set flashWrite " + std::to_string(writtenMax) + ":A5");

    const QJsonObject count = answerOf("GetWrittenFlashDataCount");
    ASSERT_EQ(count["status"].toString(), "ok") << QJsonDocument(count).toJson().toStdString();
    const qint64 expectedSize = static_cast<qint64>(writtenMax + 1 - minimum);
    EXPECT_EQ(count["data"].toObject()["DataCount"].toVariant().toLongLong(), expectedSize);

    const QJsonObject started = answerOf("StartReceiveFlashData");
    ASSERT_EQ(started["status"].toString(), "ok");
    const QString path = finishedReadout(60000);
    ASSERT_FALSE(path.isEmpty()) << service.sim().output();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    ASSERT_EQ(data.size(), expectedSize);
    qint64 mismatches = 0;
    for (int i = 0; i + 1 < data.size(); ++i) {
        const uint64_t a = minimum + static_cast<uint64_t>(i);
        if (static_cast<uint8_t>(data[i]) != static_cast<uint8_t>((a ^ (a >> 8) ^ (a >> 16)) & 0xFF))
            ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(static_cast<uint8_t>(data.back()), 0xA5);
    EXPECT_EQ(model()["bytesReadOut"].toVariant().toLongLong(), expectedSize);

    // The user takes it over HTTP, by name and as the newest read-out.
    const QString name = QFileInfo(path).fileName();
    for (const QString& target : {QStringLiteral("/flash/") + name, QStringLiteral("/flash/latest")}) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, service.httpPort());
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write("GET " + target.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray raw;
        QElapsedTimer timer;
        timer.start();
        while (socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < 20000) {
            socket.waitForReadyRead(50);
            raw += socket.readAll();
        }
        raw += socket.readAll();
        const int split = raw.indexOf("\r\n\r\n");
        ASSERT_GE(split, 0) << target.toStdString();
        EXPECT_TRUE(raw.startsWith("HTTP/1.1 200")) << raw.left(200).toStdString();
        EXPECT_TRUE(raw.mid(split + 4) == data) << target.toStdString() << ": the download differs from the file";
    }
}

// Read-out frames that reach a read libusb is cancelling (its 250 ms
// time-out) come back in that read: none of their bytes may be lost.
TEST_F(FlashOperationsTest, ReadOutFramesInCancelledReadsAreKept)
{
    const uint64_t minimum = 0x1000;
    const uint64_t writtenMax = minimum + 64 * 1024 + 77 - 1;
    control("set flashMin " + std::to_string(minimum));
    control("set flashWrittenMax " + std::to_string(writtenMax));
    control("fault answer-at-cancel endpoint=0x86 count=3");

    ASSERT_EQ(answerOf("StartReceiveFlashData")["status"].toString(), "ok");
    const QString path = finishedReadout(30000);
    ASSERT_FALSE(path.isEmpty()) << service.sim().output();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    ASSERT_EQ(data.size(), static_cast<qint64>(writtenMax + 1 - minimum));
    qint64 mismatches = 0;
    for (int i = 0; i < data.size(); ++i) {
        const uint64_t a = minimum + static_cast<uint64_t>(i);
        if (static_cast<uint8_t>(data[i]) != static_cast<uint8_t>((a ^ (a >> 8) ^ (a >> 16)) & 0xFF))
            ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(model()["framesReleasedAtCancel"].toInt(), 3);
}

TEST_F(FlashOperationsTest, UnplugDuringTheChainEndsItOnce)
{
    control("fault no-answer count=1");
    const QJsonObject timedOut = answerOf("StartReceiveFlashData");
    EXPECT_EQ(timedOut["errorcode"].toString(), "TIMEOUT");
    control("fault delay-answer delay=800 count=1");
    PendingRequest pending(service.httpPort(), R"({"cmd":"GetWrittenFlashDataCount","uid":4})");
    QThread::msleep(200);
    control("unplug");
    const QJsonObject answer = QJsonDocument::fromJson(pending.body(8000)).object();
    EXPECT_EQ(answer["errorcode"].toString(), "DEVICE_DISCONNECTED") << QJsonDocument(answer).toJson().toStdString();
}

} // namespace
