// Memory read-out throughput through the real libusb path: the service under
// the simulated recorder reads a recording of a few MiB into its read-out
// file; the same recording read raw by a minimal libusb client gives the
// simulator's feed rate. Prints both rates in MiB/s and their ratio.
//
//   bench_flash_readout [MiB] [repetitions]          (defaults 4 and 3)
//   bench_flash_readout raw <bytes>                  (child mode, under dastel-sim)

#include "support/serviceundersimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>
#include <libusb-1.0/libusb.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

constexpr uint64_t flashMinimum = 0x1000;

using Launcher = Tavrix::Simulator::Testing::SimulatorLauncher;

std::vector<uint8_t> frame(uint8_t code, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes{0x7E, uint8_t(data.size()), uint8_t(data.size() >> 8), code};
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xBD});
    return bytes;
}

// Child: reads the recording straight from endpoint 0x86 and prints the time.
int runRaw(uint64_t expected)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return 2;
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0x0483, 0x7503);
    if (!handle || libusb_claim_interface(handle, 1) != 0)
        return 3;
    std::vector<uint8_t> answer(65535);
    int got = 0;
    auto exchange = [&](const std::vector<uint8_t>& request) {
        int sent = 0;
        libusb_bulk_transfer(handle, 0x04, const_cast<uint8_t*>(request.data()), int(request.size()), &sent, 1000);
        libusb_bulk_transfer(handle, 0x85, answer.data(), int(answer.size()), &got, 1000);
    };
    exchange(frame(0x12, {}));
    std::vector<uint8_t> start{0x12};
    for (int i = 0; i < 8; ++i)
        start.push_back(uint8_t(flashMinimum >> (8 * i)));
    start.insert(start.end(), {0x80, 0x00});
    const auto begin = std::chrono::steady_clock::now();
    exchange(frame(0x11, start));
    std::vector<uint8_t> buffer(1048576);
    uint64_t raw = 0;
    // Frames of 512 content bytes carry 11 bytes of framing and sequence number.
    const uint64_t frames = (expected + 511) / 512;
    const uint64_t rawExpected = expected + frames * 11;
    while (raw < rawExpected) {
        int read = 0;
        const int status = libusb_bulk_transfer(handle, 0x86, buffer.data(), int(buffer.size()), &read, 2000);
        if (status != 0 && status != LIBUSB_ERROR_TIMEOUT)
            return 4;
        if (status == LIBUSB_ERROR_TIMEOUT && read == 0)
            return 5;
        raw += uint64_t(read);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("RAW_SECONDS=%.6f\n", seconds);
    std::fflush(stdout);
    libusb_release_interface(handle, 1);
    libusb_close(handle);
    libusb_exit(context);
    return 0;
}

void setRecording(const Launcher& sim, uint64_t bytes)
{
    sim.request("set flashMax 0x4000000");
    sim.request("set flashMin " + std::to_string(flashMinimum));
    sim.request("set flashWrittenMax " + std::to_string(flashMinimum + bytes - 1));
}

QByteArray post(quint16 port, const QByteArray& body)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(2000);
    socket.write("POST /cmd HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket.waitForBytesWritten(2000);
    QByteArray all;
    while (socket.waitForReadyRead(5000))
        all += socket.readAll();
    return all;
}

double rawRate(uint64_t bytes, const std::string& self)
{
    Launcher sim;
    Launcher::Options options;
    options.command = {self, "raw", std::to_string(bytes)};
    options.startUnplugged = true;
    std::string reason;
    if (sim.start(options, &reason) != Launcher::StartResult::Started) {
        std::cerr << "simulator: " << reason << std::endl;
        return 0;
    }
    setRecording(sim, bytes);
    sim.request("plug");
    if (sim.waitForExit(120000) != 0) {
        std::cerr << "raw client failed: " << sim.output() << std::endl;
        return 0;
    }
    const std::string output = sim.output();
    const auto at = output.find("RAW_SECONDS=");
    if (at == std::string::npos)
        return 0;
    return double(bytes) / (1024.0 * 1024.0) / std::stod(output.substr(at + 12));
}

double serviceRate(uint64_t bytes)
{
    ServiceUnderSimulator service;
    Launcher::Options options;
    std::string reason;
    if (service.start(options, &reason) != Launcher::StartResult::Started) {
        std::cerr << "service: " << reason << std::endl;
        return 0;
    }
    QElapsedTimer wait;
    wait.start();
    while (post(service.httpPort(), R"({"cmd":"GetPower","uid":1})").contains("DEVICE_DISCONNECTED") && wait.elapsed() < 15000)
        QThread::msleep(50);
    setRecording(service.sim(), bytes);
    const QDir dir(QDir(service.directory()).filePath("flash"));
    QElapsedTimer clock;
    clock.start();
    if (!post(service.httpPort(), R"({"cmd":"StartReceiveFlashData","uid":2})").contains("\"ok\"")) {
        std::cerr << "read-out did not start" << std::endl;
        return 0;
    }
    while (dir.entryList({"readout-*.bin"}, QDir::Files).isEmpty()) {
        if (clock.elapsed() > 120000)
            return 0;
        QThread::msleep(2);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const QString file = dir.filePath(dir.entryList({"readout-*.bin"}, QDir::Files).first());
    if (QFileInfo(file).size() != qint64(bytes)) {
        std::cerr << "read-out incomplete: " << QFileInfo(file).size() << " of " << bytes << std::endl;
        return 0;
    }
    return double(bytes) / (1024.0 * 1024.0) / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "raw")
        return runRaw(std::stoull(argv[2]));
    QCoreApplication app(argc, argv);
    const uint64_t mebibytes = argc > 1 ? std::stoull(argv[1]) : 4;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 3;
    const uint64_t bytes = mebibytes * 1024 * 1024;
    for (int i = 0; i < repetitions; ++i) {
        const double raw = rawRate(bytes, QCoreApplication::applicationFilePath().toStdString());
        const double service = serviceRate(bytes);
        std::printf("read-out %llu MiB: service %.2f MiB/s, simulator raw feed %.2f MiB/s, ratio %.3f\n",
                    static_cast<unsigned long long>(mebibytes), service, raw, raw > 0 ? service / raw : 0.0);
    }
    return 0;
}
