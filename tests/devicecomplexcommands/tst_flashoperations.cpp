#include "operationsfixture.h"

#include "devicecomplexcommands/orvimflashcommands.h"

using namespace Tavrix;
using namespace Tavrix::DeviceComplexCommands;
using Tavrix::Testing::Bytes;
using Tavrix::Testing::frame;

namespace {

Bytes addressAnswer(uint8_t sub, uint64_t address)
{
    Bytes data;
    for (int i = 0; i < 8; ++i)
        data.push_back(uint8_t(address >> (8 * i)));
    (void)sub;
    return frame(0x0A, data);
}

// Read-out frames as the recorder sends them: 512 content bytes, then a
// 32-bit sequence number.
Bytes readoutFrames(const Bytes& content)
{
    Bytes stream;
    uint32_t sequence = 0;
    for (std::size_t offset = 0; offset < content.size(); offset += 512, ++sequence) {
        Bytes data(content.begin() + offset, content.begin() + std::min(content.size(), offset + 512));
        for (int i = 0; i < 4; ++i)
            data.push_back(uint8_t(sequence >> (8 * i)));
        const Bytes one = frame(0x82, data);
        stream.insert(stream.end(), one.begin(), one.end());
    }
    return stream;
}

class FlashOperations : public Tavrix::Testing::OperationsFixture
{
protected:
    // A read-out operation; its answers and the data listener's blocks are
    // recorded in `answers` and `blocks`.
    std::shared_ptr<StartReceiveFlashDataCommand> startReadOut()
    {
        auto command = create<StartReceiveFlashDataCommand>("StartReceiveFlashData");
        if (!command)
            return command;
        QObject::connect(command.get(), &StartReceiveFlashDataCommand::answerIsReady,
                         [this](Usb::ComplexCommand*, std::shared_ptr<Usb::DeviceCommandStatus> status) {
                             answers.push_back(status->status);
                         });
        QObject::connect(&dataListener, &Usb::UsbEndPoint::signalAnswer,
                         [this](std::vector<uint8_t> block, int32_t status) { blocks.emplace_back(block, status); });
        return command;
    }

    std::vector<Usb::DeviceCommand::EStatus> answers;
    std::vector<std::pair<Bytes, int>> blocks;
};

TEST_F(FlashOperations, WrittenCountIncludesTheLastWrittenByte)
{
    auto command = create<GetWrittenFlashDataCountCommand>("GetWrittenFlashDataCount");
    ASSERT_TRUE(command);
    std::vector<uint64_t> answers;
    QObject::connect(command.get(), &GetWrittenFlashDataCountCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, uint64_t count, auto) { answers.push_back(count); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    EXPECT_EQ(inFlight(), "ReadMinAddress");
    answer(addressAnswer(1, 0x1000));
    EXPECT_EQ(inFlight(), "ReadWrittenMaxAddress");
    answer(addressAnswer(3, 0x1FFF));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], 4096u);
}

TEST_F(FlashOperations, ReadOutDeliversExactlyTheCountedBytesInBlocks)
{
    const uint64_t minimum = 0x100;
    const uint64_t writtenMax = minimum + 3 * 10240 + 777 - 1; // 31497 bytes
    auto command = startReadOut();
    ASSERT_TRUE(command);

    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    answer(addressAnswer(1, minimum));
    answer(addressAnswer(3, writtenMax));
    EXPECT_EQ(inFlight(), "StopDataReading");
    answer(Testing::resultFrame(0x12));
    EXPECT_EQ(inFlight(), "StartDataReading");
    const Bytes expectedArguments{0x12, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x80, 0x00};
    const Bytes request = sent();
    ASSERT_GE(request.size(), 4 + expectedArguments.size());
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 4 + expectedArguments.size()), expectedArguments);
    EXPECT_TRUE(dataListener.isActive());
    answer(Testing::resultFrame(0x11));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], Usb::DeviceCommand::OK);

    // The recorder sends up to its write pointer, one past the written maximum.
    Bytes content(writtenMax + 1 - minimum);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = uint8_t((i * 7) ^ (i >> 8));
    dataListener.handleDataBlockIsReceived(readoutFrames(content));

    Bytes received;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].second, i + 1 == blocks.size() ? 1 : 0) << "block " << i;
        if (i + 1 < blocks.size())
            EXPECT_EQ(blocks[i].first.size(), 10240u);
        received.insert(received.end(), blocks[i].first.begin(), blocks[i].first.end());
    }
    EXPECT_EQ(blocks.size(), 4u);
    EXPECT_EQ(received, content);
    EXPECT_FALSE(dataListener.isActive());
}

TEST_F(FlashOperations, NothingWrittenAnswersAtOnceWithAnEmptyLastBlock)
{
    auto command = startReadOut();
    ASSERT_TRUE(command);
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    answer(addressAnswer(1, 0x2000));
    answer(addressAnswer(3, 0x2000));
    EXPECT_TRUE(inFlight().empty());
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(blocks[0].first.empty());
    EXPECT_EQ(blocks[0].second, 1);
    EXPECT_FALSE(dataListener.isActive());
}

struct FlashFailure
{
    const char* label;
    int step; // 0 min address, 1 written max, 2 stop, 3 start
    int32_t status;
    Bytes answer; // used when status is OK (a malformed answer)
    Usb::DeviceCommand::EStatus expected;
};

class FlashFailures : public FlashOperations, public ::testing::WithParamInterface<FlashFailure>
{
};

TEST_P(FlashFailures, EndTheReadOutOnceWithThatStatusAndLeaveTheListenerUnarmed)
{
    const FlashFailure& c = GetParam();
    auto command = startReadOut();
    ASSERT_TRUE(command);
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    const std::vector<Bytes> good{addressAnswer(1, 0), addressAnswer(3, 99), Testing::resultFrame(0x12),
                                  Testing::resultFrame(0x11)};
    for (int step = 0; step < c.step; ++step)
        answer(good[step]);
    manager->queue()->handleCommandAnswerThreadSafe(c.answer, c.status);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], c.expected);
    EXPECT_FALSE(dataListener.isActive());
    EXPECT_TRUE(inFlight().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FlashFailures,
    ::testing::Values(FlashFailure{"minTimeout", 0, Usb::DeviceCommand::TIMEOUT, {}, Usb::DeviceCommand::TIMEOUT},
                      FlashFailure{"writtenMaxTimeout", 1, Usb::DeviceCommand::TIMEOUT, {}, Usb::DeviceCommand::TIMEOUT},
                      FlashFailure{"shortAddress", 1, 0, frame(0x0A, {1, 2, 3, 4, 5, 6, 7}),
                                   Usb::DeviceCommand::WRONG_FRAME_FORMAT},
                      FlashFailure{"stopUnplugged", 2, Usb::DeviceCommand::DEVICE_DISCONNECTED, {},
                                   Usb::DeviceCommand::DEVICE_DISCONNECTED},
                      FlashFailure{"startTimeout", 3, Usb::DeviceCommand::TIMEOUT, {}, Usb::DeviceCommand::TIMEOUT}),
    [](const ::testing::TestParamInfo<FlashFailure>& info) { return std::string(info.param.label); });

} // namespace
