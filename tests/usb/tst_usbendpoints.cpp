#include "support/usblinkharness.h"
#include "common/simplelogger.h"
#include "common/threadlogging.h"
#include "usb/usbadclistener.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcontext.h"
#include "usb/usbdatalistener.h"
#include "usb/usbreadtransfer.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <libusb.h>

using namespace Tavrix::Usb;

namespace {

using TestSupport::Bytes;
using TestSupport::LinkLogs;
using TestSupport::completeRead;
using TestSupport::frame;


Bytes answerOf(const QSignalSpy& spy, int index)
{
    return spy.at(index).at(0).value<Bytes>();
}

int statusOf(const QSignalSpy& spy, int index)
{
    return spy.at(index).at(1).toInt();
}

// ---- command listener ------------------------------------------------------

class CmdListenerTest : public ::testing::Test
{
protected:
    LinkLogs logs;
    UsbCmdListener<133> listener{"l_cmd", &logs.context, 65535};
    QSignalSpy answers{&listener, &UsbEndPoint::signalAnswer};
};

TEST_F(CmdListenerTest, readWithTwoFramesDeliversBothAndReportsThem)
{
    const Bytes echo = frame(0x01, {0xDD});
    const Bytes name = frame(0x02, {0, 0, 5, 0, 1, 1, 3, 1});
    Bytes read = echo;
    read.insert(read.end(), name.begin(), name.end());

    completeRead(listener, read);
    EXPECT_TRUE(listener.exe());

    ASSERT_EQ(answers.count(), 2);
    EXPECT_EQ(answerOf(answers, 0), echo);
    EXPECT_EQ(answerOf(answers, 1), name);
    EXPECT_EQ(statusOf(answers, 0), 0);
    EXPECT_NE(logs.threadLog.take().find(" error: 2 0"), std::string::npos);
}

TEST_F(CmdListenerTest, frameSplitOverTwoReadsIsDeliveredOnceAfterTheSecond)
{
    const Bytes name = frame(0x02, {0, 0, 5, 0, 1, 1, 3, 1, 'F'});
    completeRead(listener, Bytes(name.begin(), name.begin() + 5));
    listener.exe();
    EXPECT_EQ(answers.count(), 0);
    EXPECT_NE(logs.threadLog.take().find(" error: 0 5"), std::string::npos);

    completeRead(listener, Bytes(name.begin() + 5, name.end()));
    listener.exe();
    ASSERT_EQ(answers.count(), 1);
    EXPECT_EQ(answerOf(answers, 0), name);
}

TEST_F(CmdListenerTest, readHoldingExactlyOneFrameIsNotReported)
{
    completeRead(listener, frame(0x01, {0xDD}));
    listener.exe();
    EXPECT_EQ(answers.count(), 1);
    EXPECT_EQ(logs.threadLog.take().find(" error: "), std::string::npos);
}

TEST_F(CmdListenerTest, nothingIsConsumedWhileAReadIsInFlight)
{
    std::memcpy(listener.buffer(), frame(0x01, {0xDD}).data(), 8);
    listener.setReceivedCount(8);
    listener.setBusy(true);
    EXPECT_FALSE(listener.exe());
    EXPECT_EQ(answers.count(), 0);
}

TEST_F(CmdListenerTest, emptyTimedOutOrCancelledReadDeliversNothingAndKeepsTheLinkUp)
{
    // The harness has no device open (state 5): the next read is refused
    // before libusb, and the callback must leave that state alone.
    const int state = logs.context.errorState();
    for (libusb_transfer_status status : {LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_TRANSFER_CANCELLED}) {
        completeRead(listener, {}, status);
        EXPECT_EQ(listener.receivedCount(), 0);
        EXPECT_FALSE(listener.isBusy());
        EXPECT_EQ(logs.context.errorState(), state);
        listener.exe();
        EXPECT_EQ(answers.count(), 0);
    }
}

// libusb reports a read that was being cancelled when the recorder's bytes
// arrived as timed out or cancelled, with the bytes in it.
TEST_F(CmdListenerTest, answerInATimedOutOrCancelledReadIsDelivered)
{
    int expected = 0;
    const int state = logs.context.errorState();
    for (libusb_transfer_status status : {LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_TRANSFER_CANCELLED}) {
        const Bytes answer = frame(0x0C, {0x10, 0x0E});
        completeRead(listener, answer, status);
        EXPECT_FALSE(listener.isBusy());
        EXPECT_TRUE(listener.exe());
        ASSERT_EQ(answers.count(), ++expected) << status;
        EXPECT_EQ(answerOf(answers, expected - 1), answer);
        EXPECT_EQ(logs.context.errorState(), state);
    }
}

TEST_F(CmdListenerTest, failedReadBreaksTheLink)
{
    const std::vector<std::pair<libusb_transfer_status, int>> table = {
        {LIBUSB_TRANSFER_NO_DEVICE, LIBUSB_TRANSFER_NO_DEVICE},
        {LIBUSB_TRANSFER_ERROR, LIBUSB_TRANSFER_ERROR},
        {LIBUSB_TRANSFER_OVERFLOW, LIBUSB_TRANSFER_OVERFLOW},
    };
    for (const auto& [status, state] : table) {
        logs.context.setErrorState(0);
        completeRead(listener, {}, status);
        EXPECT_EQ(logs.context.errorState(), state);
        EXPECT_FALSE(listener.isBusy());
        EXPECT_NE(logs.threadLog.take().find("l_cmd callback error: "), std::string::npos);
    }
}

// The USB loop consumes a finished read from inside event handling, in the
// completion hook: by then the read must be idle with its bytes counted. A
// failed read breaks the link and leaves nothing to consume.
TEST_F(CmdListenerTest, completionHookRunsOnceTheReadIsIdleAndOnlyWhenItFinished)
{
    const Bytes answer = frame(0x0C, {0x10, 0x0E});
    const struct {
        libusb_transfer_status status;
        bool hookRuns;
    } table[] = {
        {LIBUSB_TRANSFER_COMPLETED, true},
        {LIBUSB_TRANSFER_TIMED_OUT, true},
        {LIBUSB_TRANSFER_CANCELLED, true},
        {LIBUSB_TRANSFER_ERROR, false},
        {LIBUSB_TRANSFER_NO_DEVICE, false},
        {LIBUSB_TRANSFER_OVERFLOW, false},
    };
    for (const auto& row : table) {
        int runs = 0;
        bool consumed = false;
        logs.context.setAfterCompletion([&] {
            ++runs;
            consumed = listener.exe();
        });
        answers.clear();
        completeRead(listener, answer, row.status);
        EXPECT_EQ(runs, row.hookRuns ? 1 : 0) << row.status;
        EXPECT_EQ(consumed, row.hookRuns) << row.status;
        EXPECT_EQ(answers.count(), row.hookRuns ? 1 : 0) << row.status;
        logs.threadLog.take();
    }
    logs.context.setAfterCompletion(nullptr);
}

TEST_F(CmdListenerTest, submittingWithoutAnOpenDeviceIsRefusedAndLogged)
{
    // State 5: no device. The read is not attempted at all.
    listener.submitRead();
    EXPECT_FALSE(listener.isBusy());
    EXPECT_NE(logs.threadLog.take().find(" l_cmd has error 5"), std::string::npos);
}

// ---- ADC listener ----------------------------------------------------------

std::vector<QByteArray> blocksOf(const Bytes& handOver)
{
    QByteArray raw(reinterpret_cast<const char*>(handOver.data()), static_cast<int>(handOver.size()));
    QDataStream in(raw);
    std::vector<QByteArray> blocks;
    while (!in.atEnd()) {
        QByteArray block;
        in >> block;
        if (in.status() != QDataStream::Ok)
            break;
        blocks.push_back(block);
    }
    return blocks;
}

QByteArray toQ(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

TEST(AdcListener, withoutAggregationEveryReadIsOneLengthPrefixedBlock)
{
    LinkLogs logs;
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, 0);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);

    const Bytes read{0x7E, 0x01, 0x00, 0x20, 0x55, 0xFF, 0xFF, 0xBD};
    completeRead(listener, read);
    listener.exe();

    ASSERT_EQ(spy.count(), 1);
    Bytes expected{0x00, 0x00, 0x00, 0x08};
    expected.insert(expected.end(), read.begin(), read.end());
    EXPECT_EQ(answerOf(spy, 0), expected);
    EXPECT_TRUE(listener.isReceiving());
}

TEST(AdcListener, readsWithinThePeriodAreHeldBack)
{
    LinkLogs logs;
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, 3600 * 1000);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    for (uint8_t i = 0; i < 5; ++i) {
        completeRead(listener, Bytes(10, i));
        listener.exe();
    }
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(listener.isReceiving());
}

TEST(AdcListener, handOverCarriesEveryReadSinceTheLastOneInOrder)
{
    LinkLogs logs;
    constexpr int period = 100;
    QElapsedTimer sinceConstruction;
    sinceConstruction.start();
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, period);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);

    std::vector<QByteArray> fed;
    qint64 handedOverAt = -1;
    for (int i = 0; i < 400 && spy.count() == 0; ++i) {
        const Bytes read(1 + i % 128, static_cast<uint8_t>(i));
        fed.push_back(toQ(read));
        completeRead(listener, read);
        listener.exe();
        if (spy.count() > 0)
            handedOverAt = sinceConstruction.elapsed();
        else
            QTest::qWait(5);
    }
    ASSERT_EQ(spy.count(), 1);
    EXPECT_GE(handedOverAt, period);
    EXPECT_EQ(blocksOf(answerOf(spy, 0)), fed);
}

// The frames of the last reads before the stream pauses are not held back
// until it resumes: the first empty read after the period hands them over.
TEST(AdcListener, whatIsCollectedGoesAtTheFirstEmptyReadAfterThePeriod)
{
    LinkLogs logs;
    constexpr int period = 100;
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, period);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    const Bytes last(20, 0x42);
    completeRead(listener, last);
    listener.exe();
    ASSERT_EQ(spy.count(), 0) << "within the period: held";
    // An empty read within the period still holds it.
    completeRead(listener, {}, LIBUSB_TRANSFER_TIMED_OUT);
    listener.exe();
    ASSERT_EQ(spy.count(), 0);
    QTest::qWait(period + 20);
    completeRead(listener, {}, LIBUSB_TRANSFER_TIMED_OUT);
    listener.exe();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(blocksOf(answerOf(spy, 0)), std::vector<QByteArray>{toQ(last)});
    // Nothing is handed over twice, and an empty read with nothing collected hands nothing.
    QTest::qWait(period + 20);
    completeRead(listener, {}, LIBUSB_TRANSFER_TIMED_OUT);
    listener.exe();
    EXPECT_EQ(spy.count(), 1);
}

TEST(AdcListener, resetDropsCollectedData)
{
    LinkLogs logs;
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, 0);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    completeRead(listener, Bytes{9, 9});
    listener.exe();
    listener.reset();
    EXPECT_FALSE(listener.isReceiving());
    completeRead(listener, Bytes{1});
    listener.exe();
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(blocksOf(answerOf(spy, 1)), std::vector<QByteArray>{toQ(Bytes{1})});
}

TEST(AdcListener, tenEmptyReadsInARowEndTheStream)
{
    const std::vector<std::pair<int, bool>> table = {{1, true}, {9, true}, {10, false}, {15, false}};
    for (const auto& [emptyReads, stillReceiving] : table) {
        LinkLogs logs;
        UsbAdcListener<131> listener("l_adc", &logs.context, 128, 0);
        completeRead(listener, Bytes{1, 2});
        listener.exe();
        for (int i = 0; i < emptyReads; ++i) {
            completeRead(listener, {}, LIBUSB_TRANSFER_TIMED_OUT);
            listener.exe();
        }
        EXPECT_EQ(listener.isReceiving(), stillReceiving) << emptyReads;
    }
}

TEST(AdcListener, dataBetweenEmptyReadsRestartsTheCount)
{
    LinkLogs logs;
    UsbAdcListener<131> listener("l_adc", &logs.context, 128, 0);
    for (int round = 0; round < 3; ++round) {
        completeRead(listener, Bytes{1});
        listener.exe();
        for (int i = 0; i < 9; ++i) {
            completeRead(listener, {}, LIBUSB_TRANSFER_TIMED_OUT);
            listener.exe();
        }
    }
    EXPECT_TRUE(listener.isReceiving());
}

// Several reads in flight: the lanes are the listener itself and its extra
// reads, submitted (and so completed) in that order.
class AdcReadsInFlight : public ::testing::Test
{
protected:
    static constexpr unsigned int lanes = 3;
    LinkLogs logs;
    UsbAdcListener<131> listener{"l_adc", &logs.context, 128, 0, lanes};
    QSignalSpy spy{&listener, &UsbEndPoint::signalAnswer};

    UsbEndPointReader& lane(std::size_t index)
    {
        if (index == 0)
            return listener;
        return *static_cast<UsbEndPointReader*>(listener.extraReads().at(static_cast<int>(index - 1)));
    }
    // What a successful submission leaves behind (the test link has no device).
    void markSubmitted()
    {
        for (std::size_t i = 0; i < lanes; ++i)
            lane(i).setBusy(true);
    }
    void complete(std::size_t index, const Bytes& bytes, libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED)
    {
        if (index == 0)
            completeRead(listener, bytes, status);
        else
            completeRead(lane(index), bytes, status);
    }
};

TEST_F(AdcReadsInFlight, extraReadsAreListedForTheDispatcher)
{
    EXPECT_EQ(listener.extraReads().size(), static_cast<int>(lanes - 1));
    for (UsbEndPoint* read : listener.extraReads())
        EXPECT_EQ(read->address(), 131u);
}

TEST_F(AdcReadsInFlight, readsAreTakenInSubmissionOrderWhateverOrderTheyEndIn)
{
    markSubmitted();
    complete(2, Bytes{3});
    complete(1, Bytes{2});
    EXPECT_FALSE(listener.exe()) << "the oldest read is still in flight";
    EXPECT_EQ(spy.count(), 0);

    complete(0, Bytes{1});
    EXPECT_TRUE(listener.exe());
    ASSERT_EQ(spy.count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(blocksOf(answerOf(spy, i)), std::vector<QByteArray>{toQ(Bytes{static_cast<uint8_t>(i + 1)})});

    // The next round starts again with the first lane.
    markSubmitted();
    complete(1, Bytes{5});
    EXPECT_FALSE(listener.exe());
    complete(0, Bytes{4});
    EXPECT_TRUE(listener.exe());
    ASSERT_EQ(spy.count(), 5);
    EXPECT_EQ(blocksOf(answerOf(spy, 3)), std::vector<QByteArray>{toQ(Bytes{4})});
    EXPECT_EQ(blocksOf(answerOf(spy, 4)), std::vector<QByteArray>{toQ(Bytes{5})});
}

TEST_F(AdcReadsInFlight, theStreamEndsAfterTenEmptyReadsPerReadInFlight)
{
    const std::vector<std::pair<int, bool>> table = {{10, true}, {29, true}, {30, false}};
    for (const auto& [emptyReads, stillReceiving] : table) {
        listener.reset();
        markSubmitted();
        complete(0, Bytes{1, 2});
        listener.exe();
        std::size_t next = 1;
        for (int i = 0; i < emptyReads; ++i) {
            markSubmitted();
            complete(next, {}, LIBUSB_TRANSFER_TIMED_OUT);
            listener.exe();
            next = (next + 1) % lanes;
        }
        EXPECT_EQ(listener.isReceiving(), stillReceiving) << emptyReads;
    }
}

// The USB loop holds command frames back while the signal reads are behind,
// so this must say "behind" only for a recorder whose buffer keeps filling
// (every read of two rounds full) and stop saying it at the first read that
// is not full.
TEST_F(AdcReadsInFlight, behindOnlyAfterTwoRoundsOfFullReads)
{
    const Bytes full(128, 0x55);
    const Bytes fullButOne(127, 0x55);
    struct Case {
        const char* name;
        std::vector<Bytes> reads; // completed in submission order; {} is a timed-out read
        bool behind;
    };
    const std::vector<Case> table = {
        {"no read yet", {}, false},
        {"one round full", {full, full, full}, false},
        {"two rounds but one read full", {full, full, full, full, full}, false},
        {"two rounds full", {full, full, full, full, full, full}, true},
        {"then a short read", {full, full, full, full, full, full, fullButOne}, false},
        {"then a timed-out read", {full, full, full, full, full, full, {}}, false},
        {"a short read in the middle", {full, full, full, fullButOne, full, full, full, full, full}, false},
        {"full again after a short one", {fullButOne, full, full, full, full, full, full}, true},
    };
    for (const Case& c : table) {
        listener.reset();
        std::size_t next = 0;
        for (const Bytes& read : c.reads) {
            markSubmitted();
            if (read.empty())
                complete(next, {}, LIBUSB_TRANSFER_TIMED_OUT);
            else
                complete(next, read);
            listener.exe();
            next = (next + 1) % lanes;
        }
        EXPECT_EQ(listener.isBehind(), c.behind) << c.name;
    }
    // Behind, then the link is reopened: nothing of it is left.
    listener.reset();
    for (std::size_t i = 0; i < 2 * lanes; ++i) {
        markSubmitted();
        complete(i % lanes, full);
        listener.exe();
    }
    ASSERT_TRUE(listener.isBehind());
    listener.reset();
    EXPECT_FALSE(listener.isBehind());
}

// ---- data listener ---------------------------------------------------------

// A read-out frame: the memory content followed by four bytes that are not
// content.
Bytes readoutFrame(const Bytes& content)
{
    Bytes data = content;
    data.insert(data.end(), {0xA0, 0xA1, 0xA2, 0xA3});
    return frame(0x31, data);
}

Bytes counting(uint8_t first, std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(first + i);
    return out;
}

struct ReadoutCase
{
    const char* name;
    uint64_t start;
    uint64_t finish;
    uint32_t blockSize;
    std::vector<std::size_t> frameContentSizes;
    // Size and status of every hand-over, in order.
    std::vector<std::pair<std::size_t, int>> blocks;
};

class DataListenerCases : public ::testing::TestWithParam<ReadoutCase>
{
};

TEST_P(DataListenerCases, cutsBlocksByAddress)
{
    const ReadoutCase& c = GetParam();
    LinkLogs logs;
    UsbDataListener listener("l_data", &logs.context, 4096);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    listener.startReadout(c.start, c.finish, c.blockSize);

    Bytes content;
    Bytes stream;
    for (std::size_t size : c.frameContentSizes) {
        const Bytes part = counting(static_cast<uint8_t>(content.size()), size);
        content.insert(content.end(), part.begin(), part.end());
        const Bytes f = readoutFrame(part);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    // Reads do not follow frame boundaries.
    for (std::size_t offset = 0; offset < stream.size(); offset += 5)
        listener.handleDataBlockIsReceived(
            Bytes(stream.begin() + offset, stream.begin() + std::min(stream.size(), offset + 5)));

    ASSERT_EQ(static_cast<std::size_t>(spy.count()), c.blocks.size());
    Bytes handedOver;
    for (int i = 0; i < spy.count(); ++i) {
        const Bytes block = answerOf(spy, i);
        EXPECT_EQ(block.size(), c.blocks[i].first) << "block " << i;
        EXPECT_EQ(statusOf(spy, i), c.blocks[i].second) << "block " << i;
        handedOver.insert(handedOver.end(), block.begin(), block.end());
    }
    const std::size_t expectedTotal = static_cast<std::size_t>(c.finish - c.start);
    EXPECT_EQ(handedOver, Bytes(content.begin(), content.begin() + std::min(expectedTotal, content.size())));
    EXPECT_FALSE(listener.isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Readouts,
    DataListenerCases,
    ::testing::Values(
        ReadoutCase{"endsOnABlockBoundary", 0x1000, 0x1008, 4, {8}, {{4, 0}, {4, 1}}},
        ReadoutCase{"shortLastBlock", 0, 6, 4, {3, 3}, {{4, 0}, {2, 1}}},
        ReadoutCase{"overshootIsCutAtTheFinishAddress", 0x2000, 0x200A, 4, {6, 6}, {{4, 0}, {6, 1}}},
        ReadoutCase{"singleFrameFarPastTheEnd", 100, 103, 64, {40}, {{3, 1}}},
        ReadoutCase{"manyBlocksFromOneFrame", 0, 24, 8, {30}, {{24, 1}}},
        ReadoutCase{"manyBlocksFromSmallFrames", 0, 24, 8, {5, 5, 5, 5, 4}, {{8, 0}, {8, 0}, {8, 1}}},
        ReadoutCase{"zeroBlockSizeStillEnds", 0, 10, 0, {4, 4, 4}, {{10, 1}}}),
    [](const ::testing::TestParamInfo<ReadoutCase>& info) { return std::string(info.param.name); });

TEST(DataListener, bytesAfterTheEndOfAReadoutAreNotHandedOver)
{
    LinkLogs logs;
    UsbDataListener listener("l_data", &logs.context, 4096);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    listener.startReadout(0, 4, 4);
    Bytes stream = readoutFrame(counting(0, 4));
    const Bytes extra = readoutFrame(counting(50, 4));
    stream.insert(stream.end(), extra.begin(), extra.end());
    listener.handleDataBlockIsReceived(stream);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(answerOf(spy, 0), counting(0, 4));
    EXPECT_EQ(statusOf(spy, 0), 1);
}

TEST(AdcListener, signalBytesInATimedOutOrCancelledReadAreHandedOver)
{
    for (libusb_transfer_status status : {LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_TRANSFER_CANCELLED}) {
        LinkLogs logs;
        UsbAdcListener<131> listener("l_adc", &logs.context, 128, 0);
        QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
        const Bytes signal = frame(0x80, Bytes(50, 0x11));
        completeRead(listener, signal, status);
        listener.exe();
        ASSERT_EQ(spy.count(), 1) << status;
        const auto blocks = blocksOf(answerOf(spy, 0));
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0], toQ(signal));
        EXPECT_TRUE(listener.isReceiving());
    }
}

TEST(DataListener, readoutBytesInATimedOutOrCancelledReadAreKept)
{
    for (libusb_transfer_status status : {LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_TRANSFER_CANCELLED}) {
        LinkLogs logs;
        UsbDataListener listener("l_data", &logs.context, 4096);
        const Bytes bytes = readoutFrame(counting(0, 16));
        const int state = logs.context.errorState();
        completeRead(listener, bytes, status);
        EXPECT_EQ(listener.receivedCount(), static_cast<int>(bytes.size())) << status;
        EXPECT_FALSE(listener.isBusy());
        EXPECT_EQ(logs.context.errorState(), state);
    }
}

TEST(DataListener, frameTooShortForItsTrailerAddsNothing)
{
    LinkLogs logs;
    UsbDataListener listener("l_data", &logs.context, 4096);
    QSignalSpy spy(&listener, &UsbEndPoint::signalAnswer);
    listener.startReadout(0, 4, 4);
    listener.handleDataBlockIsReceived(frame(0x31, {1, 2}));
    EXPECT_EQ(spy.count(), 0);
    listener.handleDataBlockIsReceived(readoutFrame(counting(7, 4)));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(answerOf(spy, 0), counting(7, 4));
}

} // namespace
