#include "support/usblinkharness.h"
#include "common/simplelogger.h"
#include "common/threadlogging.h"
#include "usb/bytecommand.h"
#include "usb/bytecommandqueue.h"
#include "usb/devicecommand.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcmdwriter.h"
#include "usb/usbcontext.h"
#include "usb/usbreadtransfer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <libusb.h>
#include <memory>

using namespace Tavrix::Usb;

namespace {

// Bytes, frame(), LinkLogs and completeRead() of the link harness.
using namespace TestSupport;

struct Outcome
{
    std::string name;
    Bytes answer;
    int status;
};

struct CommandError
{
    std::string name;
    Bytes sent;
    Bytes answer;
    int code;
};

// The real writer and listener, without a device: what the queue hands to
// the writer is read back from its pending bytes, and the recorder's answers
// are completed reads on the listener.
class ByteCommandQueueTest : public ::testing::Test
{
protected:
    ByteCommandQueueTest()
    {
        queue.setDeviceConnected(true);
        QObject::connect(&queue,
                         &ByteCommandQueue::signalCommandError,
                         [this](std::string name, Bytes sent, Bytes answer, int32_t code) {
                             errors.push_back({name, sent, answer, code});
                             if (onError)
                                 onError(name, code);
                         });
    }

    std::shared_ptr<ByteCommand> command(const std::string& name, uint8_t code, int timeout = 1000)
    {
        auto cmd = std::make_shared<ByteCommand>(name, queue.generateUid(), frame(code, {0xDD}), timeout);
        QObject::connect(cmd.get(),
                         &ByteCommand::answerIsReady,
                         [this](std::shared_ptr<ByteCommand> c, Bytes answer, int32_t status) {
                             outcomes.push_back({c->name(), answer, status});
                             if (onAnswer)
                                 onAnswer(c->name(), status);
                         });
        return cmd;
    }

    // The USB loop takes the pending bytes when it writes them.
    Bytes written()
    {
        Bytes bytes = writer.pendingBytes();
        writer.dropPendingBytes();
        return bytes;
    }

    void deviceAnswers(const Bytes& answer)
    {
        completeRead(listener, answer);
        listener.exe();
        // The answer crosses to the queue by queued connection.
        QCoreApplication::processEvents();
    }

    bool waitForOutcomes(std::size_t count, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (outcomes.size() < count && timer.elapsed() < timeoutMs)
            QTest::qWait(5);
        return outcomes.size() >= count;
    }

    LinkLogs logs;
    UsbCmdWriter<4> writer{"cmd", &logs.context};
    UsbCmdListener<133> listener{"l_cmd", &logs.context, 65535};
    ByteCommandQueue queue{&writer, &listener};
    std::vector<Outcome> outcomes;
    std::vector<CommandError> errors;
    std::function<void(const std::string&, int)> onAnswer;
    std::function<void(const std::string&, int)> onError;
};

TEST_F(ByteCommandQueueTest, commandsGoOutOneAtATimeInOrder)
{
    queue.enqueue(command("A", 0x01));
    queue.enqueue(command("B", 0x02, 30));
    queue.enqueue(command("C", 0x03));

    EXPECT_EQ(written(), frame(0x01, {0xDD}));
    EXPECT_EQ(queue.waitingCount(), 2u);
    EXPECT_TRUE(written().empty()) << "B must wait for A's answer";

    const Bytes answerA = frame(0x01, {0x01});
    deviceAnswers(answerA);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].name, "A");
    EXPECT_EQ(outcomes[0].answer, answerA);
    EXPECT_EQ(outcomes[0].status, 0);
    EXPECT_EQ(written(), frame(0x02, {0xDD}));

    // B gets no answer and times out; C follows at once.
    ASSERT_TRUE(waitForOutcomes(2, 5000));
    EXPECT_EQ(outcomes[1].name, "B");
    EXPECT_EQ(outcomes[1].status, 4);
    EXPECT_TRUE(outcomes[1].answer.empty());
    EXPECT_EQ(written(), frame(0x03, {0xDD}));

    deviceAnswers(frame(0x03, {0x03}));
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].name, "C");
    EXPECT_EQ(outcomes[2].status, 0);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name, "B");
    EXPECT_EQ(errors[0].sent, frame(0x02, {0xDD}));
    EXPECT_EQ(errors[0].code, 4);
}

TEST_F(ByteCommandQueueTest, unansweredCommandTimesOutAfterItsTimeoutAndTheNextIsSent)
{
    queue.enqueue(command("Name", 0x02, 1000));
    queue.enqueue(command("Echo", 0x01, 1000));
    EXPECT_EQ(written(), frame(0x02, {0xDD}));

    QTest::qWait(500);
    EXPECT_TRUE(outcomes.empty()) << "time-out reported too early";

    ASSERT_TRUE(waitForOutcomes(1, 5000));
    EXPECT_EQ(outcomes[0].status, 4);
    EXPECT_EQ(written(), frame(0x01, {0xDD}));
    EXPECT_EQ(queue.currentCommand()->name(), "Echo");
}

TEST_F(ByteCommandQueueTest, commandQueuedWhileDisconnectedFailsAtOnceAndIsNeverSent)
{
    queue.setDeviceConnected(false);
    queue.enqueue(command("Name", 0x02));

    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, 5);
    EXPECT_TRUE(outcomes[0].answer.empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name, "Name");
    EXPECT_EQ(errors[0].sent, frame(0x02, {0xDD}));
    EXPECT_EQ(errors[0].code, 5);
    EXPECT_TRUE(written().empty());
    EXPECT_FALSE(queue.currentCommand());
}

// The queue does not wait for a busy endpoint: the bytes stay pending for
// the USB thread, which writes them once the endpoint is free, and the
// answer time-out covers that wait.
TEST_F(ByteCommandQueueTest, busyEndpointDelaysTheWriteWithinTheAnswerTimeout)
{
    writer.setBusy(true);
    queue.enqueue(command("Echo", 0x01, 1000));
    EXPECT_TRUE(outcomes.empty()) << "a busy endpoint is no reason to fail at once";
    EXPECT_EQ(writer.pendingBytes(), frame(0x01, {0xDD}));

    writer.setBusy(false);
    EXPECT_EQ(written(), frame(0x01, {0xDD}));
    deviceAnswers(frame(0x01, {0x01}));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, 0);
}

TEST_F(ByteCommandQueueTest, endpointBusyForTheWholeTimeoutFailsAndTheBytesAreNeverWritten)
{
    writer.setBusy(true);
    queue.enqueue(command("Echo", 0x01, 20));
    ASSERT_TRUE(waitForOutcomes(1, 5000));
    EXPECT_EQ(outcomes[0].status, 4);
    // Written after their command is over, they would draw a stray answer.
    EXPECT_TRUE(writer.pendingBytes().empty());

    writer.setBusy(false);
    queue.enqueue(command("Zero", 0x01, 0));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].status, 4) << "a zero time-out cannot wait for an answer";
    EXPECT_TRUE(written().empty());
}

TEST_F(ByteCommandQueueTest, answerWithoutACommandInFlightIsDropped)
{
    deviceAnswers(frame(0x01, {0xDD}));
    EXPECT_TRUE(outcomes.empty());

    queue.enqueue(command("Echo", 0x01));
    deviceAnswers(frame(0x01, {0xDD}));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, 0);
}

// A late answer of a command that timed out must never be handed to the
// command in flight: it is dropped and logged, and the command still gets
// its own answer within its time-out.
TEST_F(ByteCommandQueueTest, lateAnswerOfAnEarlierCommandIsDroppedAndTheRightOneTaken)
{
    queue.setErrorLog(&logs.errorLog);
    queue.enqueue(command("ReadRtc", 0x05, 30));
    queue.enqueue(command("ReadPower", 0x0C, 2000));
    EXPECT_EQ(written(), frame(0x05, {0xDD}));
    ASSERT_TRUE(waitForOutcomes(1, 5000));
    EXPECT_EQ(outcomes[0].status, 4);
    EXPECT_EQ(written(), frame(0x0C, {0xDD}));

    const Bytes late = frame(0x05, {0, 5, 8, 0x27, 3, 0x19});
    deviceAnswers(late);
    EXPECT_EQ(outcomes.size(), 1u) << "the clock's answer went to ReadPower";
    EXPECT_EQ(queue.currentCommand()->name(), "ReadPower");
    EXPECT_EQ(queue.droppedAnswerCount(), 1u);
    QFile errorLog(QString::fromStdString(logs.errorLog.path()));
    ASSERT_TRUE(errorLog.open(QIODevice::ReadOnly));
    const QByteArray logged = errorLog.readAll();
    EXPECT_TRUE(logged.contains("ReadPower") && logged.contains("Dropped")) << logged.toStdString();

    const Bytes own = frame(0x0C, {0x6E, 0x0F});
    deviceAnswers(own);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].name, "ReadPower");
    EXPECT_EQ(outcomes[1].status, 0);
    EXPECT_EQ(outcomes[1].answer, own);
}

TEST_F(ByteCommandQueueTest, droppedFrameLeavesTheTimeoutRunning)
{
    queue.enqueue(command("ReadPower", 0x0C, 300));
    written();
    QElapsedTimer timer;
    timer.start();
    deviceAnswers(frame(0x05, {1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(waitForOutcomes(1, 5000));
    EXPECT_EQ(outcomes[0].status, 4);
    EXPECT_TRUE(outcomes[0].answer.empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, 4);
}

TEST(ByteCommandQueueMatching, answerBelongsToItsRequest)
{
    const Bytes readRtc = frame(0x05, {});
    const Bytes raw = {0x01, 0x02, 0x03};
    struct Case
    {
        const char* what;
        Bytes request;
        Bytes answer;
        bool belongs;
    };
    const Case cases[] = {
        {"same code", readRtc, frame(0x05, {0, 1, 2, 3, 4, 5}), true},
        {"other code", readRtc, frame(0x0C, {0x6E, 0x0F}), false},
        {"refusal of this request", readRtc, frame(0xEE, {0x05, 0x01}), true},
        {"refusal of another request", readRtc, frame(0xEE, {0x0C, 0x01}), false},
        {"refusal without data", readRtc, frame(0xEE, {}), true},
        {"raw bytes take any frame", raw, frame(0x0C, {0x6E, 0x0F}), true},
        {"raw frame matched by its code", frame(0x0C, {}), frame(0x0C, {1, 2}), true},
        {"raw frame, other code", frame(0x0C, {}), frame(0x01, {0xDD}), false},
        {"length field not the payload", Bytes{0x7E, 0xFF, 0x0F, 0x0C, 0xFF, 0xFF, 0xBD}, frame(0x01, {}), true},
        {"no end byte", Bytes{0x7E, 0x00, 0x00, 0x0C, 0xFF, 0xFF, 0x00}, frame(0x01, {}), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ByteCommandQueue::isAnswerTo(c.request, c.answer), c.belongs) << c.what;
}

TEST_F(ByteCommandQueueTest, negativeTimeoutWaitsTheDefaultInsteadOfForever)
{
    queue.enqueue(command("Odd", 0x01, -5));
    queue.enqueue(command("Next", 0x02));
    EXPECT_EQ(written(), frame(0x01, {0xDD}));
    ASSERT_TRUE(waitForOutcomes(1, 5000));
    EXPECT_EQ(outcomes[0].name, "Odd");
    EXPECT_EQ(outcomes[0].status, 4);
    EXPECT_EQ(written(), frame(0x02, {0xDD}));
}

// A waiting command used to stay queued while the recorder was away (its
// client got no answer) and was then written to whatever recorder came next.
TEST_F(ByteCommandQueueTest, deviceLossAnswersTheCommandInFlightAndEveryWaitingOneAtOnce)
{
    queue.enqueue(command("A", 0x01));
    queue.enqueue(command("B", 0x02));
    queue.enqueue(command("C", 0x04));
    written();
    queue.handleDeviceDisconnect();

    ASSERT_EQ(outcomes.size(), 3u);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].name, std::string(1, char('A' + i)));
        EXPECT_EQ(outcomes[i].status, 5);
    }
    EXPECT_TRUE(errors.empty()) << "a lost link is not a command error";
    EXPECT_EQ(queue.waitingCount(), 0u);
    EXPECT_FALSE(queue.isDeviceConnected());

    // After reconnection nothing of the old link is sent: the new command goes first.
    queue.setDeviceConnected(true);
    queue.enqueue(command("Name", 0x03));
    EXPECT_EQ(written(), frame(0x03, {0xDD}));
}

TEST_F(ByteCommandQueueTest, uidsRunUpToTheLimitThenWrapToZero)
{
    unsigned int uid = 0;
    for (unsigned int i = 1; i <= ByteCommandQueue::uidLimit; ++i) {
        uid = queue.generateUid();
        ASSERT_EQ(uid, i);
    }
    EXPECT_EQ(queue.generateUid(), 0u);
    EXPECT_EQ(queue.generateUid(), 1u);
}

// Every way a command can end, with the handler enqueuing the follow-up
// command from inside answerIsReady (and, for failures, signalCommandError).
enum class Ending { Answered, TimedOut, EndpointBusy, Disconnected, DeviceLost };

struct ReentryCase
{
    const char* name;
    Ending ending;
    int status;
    bool followUpSent; // the link is up, so the follow-up is written
};

class ByteCommandQueueReentry : public ByteCommandQueueTest, public ::testing::WithParamInterface<ReentryCase>
{
};

TEST_P(ByteCommandQueueReentry, handlersEnqueueTheirNextCommand)
{
    const ReentryCase& c = GetParam();
    bool enqueuedFromAnswer = false;
    bool enqueuedFromError = false;
    // The endpoint frees up by the time the handlers run.
    onAnswer = [&](const std::string& name, int) {
        writer.setBusy(false);
        if (name == "first" && !enqueuedFromAnswer) {
            enqueuedFromAnswer = true;
            queue.enqueue(command("fromAnswer", 0x11));
        }
    };
    onError = [&](const std::string& name, int) {
        writer.setBusy(false);
        if (name == "first" && !enqueuedFromError) {
            enqueuedFromError = true;
            queue.enqueue(command("fromError", 0x12));
        }
    };

    const int timeout = c.ending == Ending::TimedOut ? 20 : (c.ending == Ending::EndpointBusy ? 3 : 1000);
    if (c.ending == Ending::Disconnected)
        queue.setDeviceConnected(false);
    if (c.ending == Ending::EndpointBusy)
        writer.setBusy(true);

    queue.enqueue(command("first", 0x10, timeout));

    switch (c.ending) {
    case Ending::Answered:
        written();
        deviceAnswers(frame(0x10, {0}));
        break;
    case Ending::TimedOut:
        written();
        ASSERT_TRUE(waitForOutcomes(1, 5000));
        break;
    case Ending::EndpointBusy:
        // The bytes never left: the time-out drops them.
        ASSERT_TRUE(waitForOutcomes(1, 5000));
        break;
    case Ending::DeviceLost:
        written();
        queue.handleDeviceDisconnect();
        break;
    case Ending::Disconnected:
        break;
    }

    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes[0].name, "first");
    EXPECT_EQ(outcomes[0].status, c.status);
    EXPECT_TRUE(enqueuedFromAnswer);
    EXPECT_EQ(enqueuedFromError, c.status != 0 && c.ending != Ending::DeviceLost);

    if (c.followUpSent) {
        // signalCommandError comes first, so its follow-up is in flight and
        // the answer handler's waits behind it.
        const std::string first = enqueuedFromError ? "fromError" : "fromAnswer";
        ASSERT_TRUE(queue.currentCommand());
        EXPECT_EQ(queue.currentCommand()->name(), first);
        EXPECT_EQ(written(), frame(enqueuedFromError ? 0x12 : 0x11, {0xDD}));
        EXPECT_EQ(queue.waitingCount(), enqueuedFromError ? 1u : 0u);
    } else {
        // No link: every follow-up has already finished as disconnected.
        EXPECT_FALSE(queue.currentCommand());
        EXPECT_EQ(queue.waitingCount(), 0u);
        for (std::size_t i = 1; i < outcomes.size(); ++i)
            EXPECT_EQ(outcomes[i].status, 5) << outcomes[i].name;
        EXPECT_EQ(outcomes.size(), enqueuedFromError ? 3u : 2u);
        EXPECT_TRUE(written().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Endings,
                         ByteCommandQueueReentry,
                         ::testing::Values(ReentryCase{"answered", Ending::Answered, 0, true},
                                           ReentryCase{"timedOut", Ending::TimedOut, 4, true},
                                           ReentryCase{"endpointBusy", Ending::EndpointBusy, 4, true},
                                           ReentryCase{"disconnected", Ending::Disconnected, 5, false},
                                           ReentryCase{"deviceLost", Ending::DeviceLost, 5, false}),
                         [](const ::testing::TestParamInfo<ReentryCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ByteCommandQueueTest, longChainOfImmediateFailuresDoesNotGrowTheStack)
{
    // A handler that retries on every failure while the link is down: each
    // retry fails at once. The chain must run without recursing per command.
    queue.setDeviceConnected(false);
    constexpr int retries = 50000;
    int attempts = 0;
    onAnswer = [&](const std::string&, int) {
        if (++attempts < retries)
            queue.enqueue(command("Retry", 0x01));
    };
    queue.enqueue(command("Retry", 0x01));
    EXPECT_EQ(attempts, retries);
    EXPECT_FALSE(queue.currentCommand());
}

} // namespace

namespace {

// A requester whose leaving the test decides.
class TestRequester : public CommandRequester
{
public:
    bool isGone() const override { return gone; }
    bool gone = false;
};

} // namespace

TEST_F(ByteCommandQueueTest, aCommandPastItsQueueDeadlineIsAnsweredTimeoutWithoutBeingSent)
{
    queue.setMaxWaitMs(100);
    queue.enqueue(command("Slow", 0x01, 2000));
    ASSERT_EQ(written(), frame(0x01, {0xDD}));
    queue.enqueue(command("Behind", 0x02));

    // "Behind" gets its answer at its deadline, while "Slow" still waits for its own.
    ASSERT_TRUE(waitForOutcomes(1, 3000));
    EXPECT_EQ(outcomes[0].name, "Behind");
    EXPECT_EQ(outcomes[0].status, DeviceCommand::TIMEOUT);
    EXPECT_EQ(queue.waitingCount(), 0u);
    EXPECT_EQ(queue.unsentCount(), 1u);

    // The one in flight is unaffected and nothing of "Behind" is ever written.
    deviceAnswers(frame(0x01, {0x00}));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].name, "Slow");
    EXPECT_EQ(outcomes[1].status, DeviceCommand::OK);
    EXPECT_TRUE(written().empty());
}

TEST_F(ByteCommandQueueTest, commandsOfAClientThatLeftBeforeAnyWasSentAreNeverSent)
{
    queue.enqueue(command("InFlight", 0x01));
    ASSERT_EQ(written(), frame(0x01, {0xDD}));

    auto requester = std::make_shared<TestRequester>();
    {
        ByteCommandQueue::RequesterScope scope(queue, requester);
        queue.enqueue(command("First", 0x02));
        queue.enqueue(command("Second", 0x03));
    }
    queue.enqueue(command("Other", 0x04));
    requester->gone = true;

    ASSERT_TRUE(waitForOutcomes(2, 3000));
    EXPECT_EQ(outcomes[0].name, "First");
    EXPECT_EQ(outcomes[1].name, "Second");
    EXPECT_EQ(outcomes[0].status, DeviceCommand::TIMEOUT);
    EXPECT_EQ(queue.waitingCount(), 1u);

    deviceAnswers(frame(0x01, {0x00}));
    // Only the command of a client still there goes out next.
    EXPECT_EQ(written(), frame(0x04, {0xDD}));
}

TEST_F(ByteCommandQueueTest, onceAClientsFirstCommandWasSentItsOthersStillRun)
{
    auto requester = std::make_shared<TestRequester>();
    {
        ByteCommandQueue::RequesterScope scope(queue, requester);
        queue.enqueue(command("Step1", 0x01));
        queue.enqueue(command("Step2", 0x02));
    }
    ASSERT_EQ(written(), frame(0x01, {0xDD}));
    EXPECT_TRUE(requester->hasStarted());
    requester->gone = true;
    QTest::qWait(ByteCommandQueue::sweepIntervalMs * 3);
    EXPECT_EQ(queue.waitingCount(), 1u);

    // Half an operation is worse than an answer nobody reads.
    deviceAnswers(frame(0x01, {0x00}));
    EXPECT_EQ(written(), frame(0x02, {0xDD}));
}

TEST_F(ByteCommandQueueTest, scopesNestAndCommandsKeepARequesterGivenToThem)
{
    auto outer = std::make_shared<TestRequester>();
    auto inner = std::make_shared<TestRequester>();
    auto own = std::make_shared<TestRequester>();
    std::shared_ptr<ByteCommand> a = command("A", 0x01);
    std::shared_ptr<ByteCommand> b = command("B", 0x02);
    std::shared_ptr<ByteCommand> c = command("C", 0x03);
    std::shared_ptr<ByteCommand> d = command("D", 0x04);
    c->setRequester(own);
    {
        ByteCommandQueue::RequesterScope outerScope(queue, outer);
        {
            ByteCommandQueue::RequesterScope innerScope(queue, inner);
            queue.enqueue(b);
            queue.enqueue(c);
        }
        queue.enqueue(a);
    }
    queue.enqueue(d);

    EXPECT_EQ(b->requester(), inner);
    EXPECT_EQ(c->requester(), own);
    EXPECT_EQ(a->requester(), outer);
    EXPECT_EQ(d->requester(), nullptr);
}
