// Requested faults and the handling of broken input on 0x04.

#include "modeltesthelpers.h"

namespace Tavrix::Simulator::Test {

namespace {

class Faults : public ModelTest {
protected:
    void inject(FaultKind kind, Endpoint endpoint = Endpoint::Answer, int count = 1)
    {
        FaultSpec f;
        f.kind = kind;
        f.endpoint = endpoint;
        f.count = count;
        model.injectFault(f);
    }
    const Bytes echo = request(0x01, {0xDD});
};

TEST_F(Faults, NoAnswerSwallowsTheNextRequests)
{
    inject(FaultKind::NoAnswer, Endpoint::Answer, 2);
    EXPECT_TRUE(ask(0x0B, {0x27, 0x01, 0x01}).empty());
    EXPECT_TRUE(ask(echo).empty());
    EXPECT_FALSE(model.nextReadyTime(Endpoint::Answer, now).has_value());
    EXPECT_EQ(ask(echo), echo);
    EXPECT_EQ(ask(0x09, {0x27})[5], 0) << "a swallowed request is not carried out";
    EXPECT_EQ(jsonNumber(model.stateJson(), "requestsSwallowed"), 2);
}

TEST_F(Faults, DelayedAnswerBecomesReadableAfterTheDelay)
{
    FaultSpec f;
    f.kind = FaultKind::DelayAnswer;
    f.delayMs = 1500;
    model.injectFault(f);
    model.writeCommand(echo, now);
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now + 1499ms).empty());
    EXPECT_EQ(*model.nextReadyTime(Endpoint::Answer, now), now + 1500ms);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now + 1500ms), echo);
    EXPECT_EQ(ask(echo), echo) << "only the next request was delayed";
}

TEST_F(Faults, AnswerAtCancelWaitsForTheHostToCancelItsRead)
{
    inject(FaultKind::AnswerAtCancel);
    model.writeCommand(echo, now);
    const Bytes power = request(0x0C, {});
    model.writeCommand(power, now);
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now + 5000ms).empty()) << "ordinary reads never get it";
    EXPECT_FALSE(model.nextReadyTime(Endpoint::Answer, now).has_value());

    // The cancelled read takes the held answer and what queued behind it.
    const Bytes released = model.readAtCancel(Endpoint::Answer, 65535, now + 250ms);
    ASSERT_GT(released.size(), echo.size());
    EXPECT_EQ(Bytes(released.begin(), released.begin() + static_cast<std::ptrdiff_t>(echo.size())), echo);
    EXPECT_EQ(released[echo.size() + 3], 0x0C);
    EXPECT_EQ(jsonNumber(model.stateJson(), "framesReleasedAtCancel"), 1);

    EXPECT_TRUE(model.readAtCancel(Endpoint::Answer, 65535, now + 300ms).empty()) << "nothing more is held";
    EXPECT_EQ(ask(echo), echo) << "later answers are ordinary again";
}

TEST_F(Faults, ClearingFaultsReleasesHeldFrames)
{
    inject(FaultKind::AnswerAtCancel);
    model.writeCommand(echo, now);
    model.clearFaults();
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now), echo);
}

TEST_F(Faults, WrongLengthShortensThePayloadConsistently)
{
    inject(FaultKind::WrongLength);
    const Bytes a = ask(0x05);
    ASSERT_EQ(a.size(), 12u) << "ReadRtc answer one byte short";
    EXPECT_EQ(le(a, 1, 2), 5u);
    EXPECT_EQ(a.back(), 0xBD);
    EXPECT_EQ(ask(0x05).size(), 13u);
}

TEST_F(Faults, GarbageComesBeforeTheNextAnswerOnly)
{
    FaultSpec f;
    f.kind = FaultKind::Garbage;
    f.garbageBytes = 7;
    model.injectFault(f);
    const Bytes a = ask(echo);
    ASSERT_EQ(a.size(), 7u + echo.size());
    EXPECT_EQ(Bytes(a.begin() + 7, a.end()), echo);
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_NE(a[i], 0x7E) << "junk must not start a frame";
    EXPECT_EQ(ask(echo), echo);
}

TEST_F(Faults, GarbageOnTheSignalEndpointIsSkippedByAFrameParser)
{
    model.read(Endpoint::Signal, 128, now);
    FaultSpec f;
    f.kind = FaultKind::Garbage;
    f.endpoint = Endpoint::Signal;
    f.count = 3;
    f.garbageBytes = 5;
    model.injectFault(f);
    now += 20ms;
    EXPECT_EQ(signalFrames().size(), 10u);
    EXPECT_EQ(cutter.skipped, 15u);
}

TEST_F(Faults, SplitFrameArrivesInChunks)
{
    FaultSpec f;
    f.kind = FaultKind::SplitFrame;
    f.splitChunk = 3;
    model.injectFault(f);
    model.writeCommand(request(0x05), now);
    model.writeCommand(echo, now);
    Bytes joined;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 5; ++i) {
        const Bytes piece = model.read(Endpoint::Answer, 65535, now);
        sizes.push_back(piece.size());
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{3, 3, 3, 3, 1})) << "13-byte clock answer in pieces of 3";
    EXPECT_EQ(joined.size(), 13u);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now), echo) << "the next frame is whole again";
}

TEST_F(Faults, StalledEndpointKeepsItsDataUntilTheHaltIsCleared)
{
    inject(FaultKind::Stall);
    EXPECT_TRUE(model.isStalled(Endpoint::Answer));
    model.writeCommand(echo, now);
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now).empty());
    EXPECT_EQ(*model.nextReadyTime(Endpoint::Answer, now), now) << "the stall is news at once";
    model.clearHalt(Endpoint::Answer);
    EXPECT_FALSE(model.isStalled(Endpoint::Answer));
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now), echo);
}

TEST_F(Faults, RepeatedStallComesBackAfterEachClear)
{
    model.read(Endpoint::Signal, 0, now);   // streaming starts
    inject(FaultKind::Stall, Endpoint::Signal, 2);
    model.clearHalt(Endpoint::Signal);
    now += 10ms;
    EXPECT_TRUE(model.read(Endpoint::Signal, 128, now).empty());
    EXPECT_TRUE(model.isStalled(Endpoint::Signal));
    model.clearHalt(Endpoint::Signal);
    EXPECT_FALSE(model.read(Endpoint::Signal, 128, now).empty());
}

TEST_F(Faults, StalledCommandEndpointLosesWrites)
{
    inject(FaultKind::Stall, Endpoint::Command);
    EXPECT_TRUE(model.isStalled(Endpoint::Command));
    EXPECT_TRUE(ask(echo).empty());
    model.clearHalt(Endpoint::Command);
    EXPECT_EQ(ask(echo), echo);
    EXPECT_EQ(jsonNumber(model.stateJson(), "writesWhileStalled"), 1);
}

TEST_F(Faults, ClearFaultsCancelsEverythingPending)
{
    inject(FaultKind::NoAnswer, Endpoint::Answer, 5);
    inject(FaultKind::WrongLength, Endpoint::Answer, 5);
    inject(FaultKind::Stall, Endpoint::Answer, 1);
    model.clearFaults();
    EXPECT_FALSE(model.isStalled(Endpoint::Answer));
    EXPECT_EQ(ask(echo), echo);
}

TEST_F(Faults, NonPositiveCountInjectsNothing)
{
    inject(FaultKind::NoAnswer, Endpoint::Answer, 0);
    EXPECT_EQ(ask(echo), echo);
}

// Input the host writes on 0x04.
TEST_F(Faults, SeveralRequestsInOneWriteAreAnsweredInOrder)
{
    Bytes both = request(0x01, {0x11});
    const Bytes second = request(0x01, {0x22});
    both.insert(both.end(), second.begin(), second.end());
    model.writeCommand(both, now);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now), (Bytes{0x7E, 1, 0, 1, 0x11, 0xFF, 0xFF, 0xBD, 0x7E, 1, 0, 1, 0x22, 0xFF, 0xFF, 0xBD}));
    EXPECT_EQ(jsonNumber(model.stateJson(), "answersSent"), 2);
}

TEST_F(Faults, RequestSplitOverWritesIsAnsweredOnceComplete)
{
    const Bytes r = request(0x05);
    model.writeCommand(Bytes(r.begin(), r.begin() + 2), now);
    model.writeCommand(Bytes(r.begin() + 2, r.begin() + 5), now);
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now).empty());
    model.writeCommand(Bytes(r.begin() + 5, r.end()), now);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now).size(), 13u);
}

TEST_F(Faults, JunkAndBrokenFramesOnTheCommandEndpointAreSkipped)
{
    Bytes input{0x00, 0x13, 0x37};
    Bytes broken = request(0x05);
    broken.back() = 0x00;   // wrong end byte
    input.insert(input.end(), broken.begin(), broken.end());
    input.insert(input.end(), echo.begin(), echo.end());
    model.writeCommand(input, now);
    const Bytes a = model.read(Endpoint::Answer, 65535, now);
    // The broken frame is dropped; resynchronising may take its bytes as junk.
    ASSERT_GE(a.size(), echo.size());
    EXPECT_EQ(Bytes(a.end() - static_cast<long>(echo.size()), a.end()), echo);
    EXPECT_EQ(jsonNumber(model.stateJson(), "commandFramesDropped"), 1);
}

TEST_F(Faults, DeclaredLengthBeyondAnyRequestIsDropped)
{
    model.writeCommand({0x7E, 0xFF, 0xFF, 0x01}, now);
    EXPECT_EQ(ask(echo), echo) << "the parser is looking for a new frame again";
}

TEST_F(Faults, ResetPipesDropsQueuedAnswersAndHalfRequests)
{
    model.writeCommand(echo, now);
    const Bytes r = request(0x05);
    model.writeCommand(Bytes(r.begin(), r.begin() + 4), now);
    model.resetPipes();
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now).empty());
    model.writeCommand(Bytes(r.begin() + 4, r.end()), now);
    EXPECT_TRUE(model.read(Endpoint::Answer, 65535, now).empty()) << "the tail alone is not a request";
    EXPECT_EQ(ask(echo), echo);
}

TEST_F(Faults, ControlValuesOutOfRangeAreRefused)
{
    struct Row {
        const char* key;
        const char* value;
        bool accepted;
    };
    const Row rows[] = {
        {"noSuchKey", "1", false},      {"power", "70000", false},      {"power", "3300", true},
        {"heartRate", "10", false},     {"heartRate", "120", true},     {"clock", "2024-02-30 10:00:00", false},
        {"clock", "2024-02-29 10:00:00", true}, {"clockBcd", "0102", false}, {"frequencyCode", "300", false},
        {"writingStateCode", "7", true}, {"writingStateCode", "x", false}, {"cablePresent", "maybe", false},
        {"calExtern.0.1", "1,5,-2,0", true}, {"calExtern.0.1", "1,5", false}, {"flashWrittenMax", "0x200000", false},
        {"eepromWrite", "4095:0102", false}, {"eepromWrite", "4094:0102", true}, {"backlogFrames", "0", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(model.setValue(row.key, row.value), row.accepted) << row.key << " = " << row.value;
    EXPECT_EQ(ask(0x0F)[4], 7) << "writing state code as set";
    EXPECT_EQ(le(ask(0x22, {0x00, 0x01, 0x00, 0x01}), 6, 4), 5u);
}

} // namespace

} // namespace Tavrix::Simulator::Test
