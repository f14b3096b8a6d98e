// The simulated recorder seen through plain libusb: a test client runs as
// dastel-sim's child while these tests drive the attachment through the
// control interface.

#include "fixture/simulatorlauncher.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using Tavrix::Simulator::Testing::SimulatorLauncher;

namespace {

constexpr int ClientTimeoutMs = 15000;

std::string clientPath()
{
    return USBSIM_CLIENT_PATH;
}

SimulatorLauncher::Options clientRun(std::vector<std::string> clientArgs)
{
    SimulatorLauncher::Options o;
    o.command = {clientPath()};
    o.command.insert(o.command.end(), clientArgs.begin(), clientArgs.end());
    return o;
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

TEST(VirtualUsb, EchoFrameIsAnsweredOnTheAnswerEndpoint)
{
    SimulatorLauncher sim;
    DASTEL_START_SIMULATOR_OR_SKIP(sim, clientRun({"echo"}));
    EXPECT_EQ(sim.waitForExit(ClientTimeoutMs), 0) << sim.output();
    EXPECT_NE(sim.output().find("ECHO-OK 7E"), std::string::npos) << sim.output();
}

class VirtualUsbStream : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(VirtualUsbStream, SignalFramesArriveAtTheConfiguredRateWithoutGaps)
{
    const auto [rate, seconds] = GetParam();
    SimulatorLauncher sim;
    auto options = clientRun({"stream", std::to_string(rate), std::to_string(seconds)});
    options.frequency = rate;
    DASTEL_START_SIMULATOR_OR_SKIP(sim, options);
    EXPECT_EQ(sim.waitForExit(ClientTimeoutMs), 0) << sim.output();
    EXPECT_NE(sim.output().find("STREAM frames="), std::string::npos) << sim.output();
}

INSTANTIATE_TEST_SUITE_P(Rates, VirtualUsbStream,
                         ::testing::Values(std::make_pair(250, 2), std::make_pair(1000, 1)),
                         [](const auto& info) { return std::to_string(info.param.first) + "fps"; });

TEST(VirtualUsb, UnplugEndsPendingTransfersAndReplugComesBackAtANewAddress)
{
    SimulatorLauncher sim;
    DASTEL_START_SIMULATOR_OR_SKIP(sim, clientRun({"unplug"}));
    ASSERT_NE(sim.waitForOutput("READY-FOR-UNPLUG", ClientTimeoutMs), std::string::npos) << sim.output();

    const QJsonObject before = sim.requestJson("state")["usb"].toObject();
    EXPECT_TRUE(before["plugged"].toBool());
    const int address = before["address"].toInt();
    EXPECT_GT(address, 1);
    EXPECT_GE(before["urbsPending"].toInt(), 2);

    const int64_t unpluggedAt = monotonicNs();
    const QJsonObject unplugged = sim.requestJson("unplug");
    EXPECT_TRUE(unplugged["ok"].toBool());
    EXPECT_FALSE(unplugged["plugged"].toBool());
    const auto endOfLine = sim.waitForOutput("UNPLUG-OK endedAtNs=", ClientTimeoutMs);
    ASSERT_NE(endOfLine, std::string::npos) << sim.output();
    const long long endedAt = std::atoll(sim.output().c_str() + endOfLine);
    // Reported, not asserted tightly: a shared machine's scheduling is no
    // test subject. Transfers without time-out can only end through the
    // unplug, so their ending at all is the behaviour checked.
    const double latencyMs = double(endedAt - unpluggedAt) / 1e6;
    RecordProperty("unplugLatencyMs", std::to_string(latencyMs));
    std::printf("unplug to NO_DEVICE: %.2f ms\n", latencyMs);
    EXPECT_LT(latencyMs, 2000.0);

    const QJsonObject gone = sim.requestJson("state")["usb"].toObject();
    EXPECT_FALSE(gone["plugged"].toBool());
    EXPECT_EQ(gone["address"].toInt(), 0);
    EXPECT_GE(gone["urbsShutdown"].toInt(), 1);

    const QJsonObject plugged = sim.requestJson("plug");
    EXPECT_TRUE(plugged["ok"].toBool());
    EXPECT_NE(plugged["address"].toInt(), address);
    EXPECT_NE(sim.waitForOutput("REPLUG-OK", ClientTimeoutMs), std::string::npos) << sim.output();
    EXPECT_EQ(sim.waitForExit(ClientTimeoutMs), 0) << sim.output();
}

TEST(VirtualUsb, StalledEndpointFailsReadsUntilTheHaltIsCleared)
{
    SimulatorLauncher sim;
    DASTEL_START_SIMULATOR_OR_SKIP(sim, clientRun({"stall"}));
    ASSERT_NE(sim.waitForOutput("READY-FOR-STALL", ClientTimeoutMs), std::string::npos) << sim.output();
    EXPECT_TRUE(sim.requestJson("fault stall endpoint=0x85")["ok"].toBool());
    EXPECT_NE(sim.waitForOutput("STALL-OK", ClientTimeoutMs), std::string::npos) << sim.output();
    EXPECT_EQ(sim.waitForExit(ClientTimeoutMs), 0) << sim.output();
}

TEST(VirtualUsbControl, RequestsAreAnsweredAndBadOnesRejectedWithoutHarm)
{
    SimulatorLauncher sim;
    SimulatorLauncher::Options options;
    options.command = {"/bin/sleep", "60"};
    DASTEL_START_SIMULATOR_OR_SKIP(sim, options);

    const struct {
        const char* request;
        bool ok;
    } cases[] = {
        {"ping", true},
        {"cable on", true},
        {"cable off", true},
        {"cable maybe", false},
        {"button", true},
        {"button twice", false},
        {"set frequency 500", true},
        {"set frequency 123", false},
        {"set noSuchKey 1", false},
        {"set", false},
        {"fault delay-answer delay=20 count=2", true},
        {"fault SplitFrame endpoint=0x83 chunk=7", true},
        {"fault stall endpoint=0x99", false},
        {"fault stall count=0", false},
        {"fault sideways", false},
        {"fault garbage size=3", false},
        {"clear-faults", true},
        {"unplug now", false},
        {"launch-missiles", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const QJsonObject answer = sim.requestJson(c.request);
        ASSERT_TRUE(answer.contains("ok")) << "'" << c.request << "' got no JSON answer";
        EXPECT_EQ(answer["ok"].toBool(), c.ok) << c.request;
        if (!c.ok)
            EXPECT_FALSE(answer["error"].toString().isEmpty()) << c.request;
    }
    const QJsonObject state = sim.requestJson("state");
    EXPECT_TRUE(state["ok"].toBool());
    EXPECT_TRUE(state["usb"].toObject()["plugged"].toBool());
    EXPECT_FALSE(state["model"].toObject().isEmpty());
    EXPECT_TRUE(sim.running());
    // SIGTERM reaches the child; its death by that signal is our status.
    EXPECT_EQ(sim.stop(), 128 + 15);
}

TEST(VirtualUsbControl, StartsUnpluggedWhenAskedAndPlugsOnRequest)
{
    SimulatorLauncher sim;
    SimulatorLauncher::Options options;
    options.command = {"/bin/sleep", "60"};
    options.startUnplugged = true;
    DASTEL_START_SIMULATOR_OR_SKIP(sim, options);
    QJsonObject usb = sim.requestJson("state")["usb"].toObject();
    EXPECT_FALSE(usb["plugged"].toBool());
    EXPECT_EQ(usb["address"].toInt(), 0);
    EXPECT_TRUE(sim.requestJson("unplug")["ok"].toBool()) << "unplugging twice is harmless";
    const QJsonObject plugged = sim.requestJson("plug");
    EXPECT_TRUE(plugged["ok"].toBool());
    EXPECT_TRUE(plugged["plugged"].toBool());
    EXPECT_GT(plugged["address"].toInt(), 1);
    sim.stop();
}

TEST(VirtualUsbLauncher, ForwardsTheChildsExitStatus)
{
    const struct {
        std::vector<std::string> command;
        int status;
    } cases[] = {
        {{"/bin/true"}, 0},
        {{"/bin/sh", "-c", "exit 3"}, 3},
        {{"/bin/sh", "-c", "kill -9 $$"}, 128 + 9},
        {{"/nonexistent/command"}, 127},
    };
    for (const auto& c : cases) {
        SimulatorLauncher sim;
        SimulatorLauncher::Options options;
        options.command = c.command;
        DASTEL_START_SIMULATOR_OR_SKIP(sim, options);
        EXPECT_EQ(sim.waitForExit(ClientTimeoutMs), c.status) << c.command.back() << "\n" << sim.output();
    }
}

TEST(VirtualUsbLauncher, ReportsAnUnavailableMockEnvironmentAsSkippable)
{
    SimulatorLauncher sim;
    SimulatorLauncher::Options options;
    options.command = {"/bin/true"};
    // The loader ignores a preload it cannot find: no mock environment.
    options.environment = {"LD_PRELOAD=/nonexistent/libumockdev-preload.so.0"};
    std::string reason;
    EXPECT_EQ(sim.start(options, &reason), SimulatorLauncher::StartResult::Unavailable) << reason;
    EXPECT_NE(reason.find("mock environment unavailable"), std::string::npos) << reason;
}
