// A plain libusb-1.0 client of the simulated recorder, run as dastel-sim's
// child by the virtual USB tests. It prints progress lines the test waits
// for and exits 0 only when every check of its scenario held.
//
//   usbsim_client echo
//   usbsim_client stream <frames-per-second> <seconds>
//   usbsim_client unplug      (waits for the test to unplug and re-plug)
//   usbsim_client stall       (waits for the test to stall 0x85)
//   usbsim_client bench <seconds> <gap-ms>
//       the reference of scripts/bench/latency.py: reads the stream and,
//       unless gap-ms is negative, runs ReadRtc exchanges one at a time,
//       gap-ms apart (0: back to back); prints "SEEN mark|button <ns>" as
//       soon as a marked or button-flagged frame is read, and a BENCH line

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr uint16_t VendorId = 0x0483;
constexpr uint16_t ProductId = 0x7503;
constexpr int Interface = 1;
constexpr unsigned char EpCommand = 0x04;
constexpr unsigned char EpAnswer = 0x85;
constexpr unsigned char EpSignal = 0x83;
const std::vector<uint8_t> EchoRequest = {0x7E, 0x01, 0x00, 0x01, 0xDD, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> AdcOnRequest = {0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> ReadRtcRequest = {0x7E, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xBD};
constexpr int32_t MarkerValue = 8388607; // what the simulator's "mark" puts in every ECG sample

using Clock = std::chrono::steady_clock;

libusb_context* g_ctx = nullptr;

void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

[[noreturn]] void fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::printf("CLIENT-FAIL: ");
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
    std::_Exit(1);
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One async transfer that remembers how it ended.
struct Transfer {
    libusb_transfer* t = nullptr;
    std::vector<uint8_t> buffer;
    bool done = false;
    int64_t endedNs = 0;

    Transfer(libusb_device_handle* h, unsigned char ep, std::size_t size, unsigned timeoutMs,
             const std::vector<uint8_t>& out = {})
        : buffer(out.empty() ? std::vector<uint8_t>(size) : out)
    {
        t = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(t, h, ep, buffer.data(), int(buffer.size()), &Transfer::callback, this,
                                  timeoutMs);
    }
    ~Transfer() { libusb_free_transfer(t); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    int submit()
    {
        done = false;
        return libusb_submit_transfer(t);
    }
    static void LIBUSB_CALL callback(libusb_transfer* t)
    {
        auto* self = static_cast<Transfer*>(t->user_data);
        self->done = true;
        self->endedNs = monotonicNs();
        completionOrder.push_back(self);
    }
    // Completions in the order libusb delivered them: the stream's byte
    // order is the order its reads completed, not the order they sit in.
    static std::deque<Transfer*> completionOrder;
};

std::deque<Transfer*> Transfer::completionOrder;

void handleEventsUntil(const bool& flag, Clock::time_point deadline)
{
    while (!flag && Clock::now() < deadline) {
        timeval tv{0, 20000};
        libusb_handle_events_timeout_completed(g_ctx, &tv, nullptr);
    }
}

libusb_device_handle* openRecorder(int* address)
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(g_ctx, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < count && !handle; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0 || desc.idVendor != VendorId ||
            desc.idProduct != ProductId)
            continue;
        const int r = libusb_open(list[i], &handle);
        if (r != 0)
            fail("libusb_open: %s", libusb_error_name(r));
        if (address)
            *address = libusb_get_device_address(list[i]);
    }
    libusb_free_device_list(list, 1);
    if (!handle)
        return nullptr;
    unsigned char product[64] = {};
    libusb_device_descriptor desc{};
    libusb_get_device_descriptor(libusb_get_device(handle), &desc);
    if (libusb_get_string_descriptor_ascii(handle, desc.iProduct, product, sizeof product) <= 0)
        fail("cannot read the product string");
    if (libusb_kernel_driver_active(handle, Interface) == 1)
        libusb_detach_kernel_driver(handle, Interface);
    const int r = libusb_claim_interface(handle, Interface);
    if (r != 0)
        fail("claim interface %d: %s", Interface, libusb_error_name(r));
    return handle;
}

// Pulls complete frames (7E, length LE16, code, data, checksum LE16, BD) out
// of a byte stream that may split or join them arbitrarily.
struct FrameCutter {
    std::vector<uint8_t> pending;
    std::size_t skipped = 0;

    template <typename F>
    void feed(const uint8_t* data, std::size_t size, F onFrame)
    {
        pending.insert(pending.end(), data, data + size);
        std::size_t pos = 0;
        while (true) {
            while (pos < pending.size() && pending[pos] != 0x7E) {
                ++pos;
                ++skipped;
            }
            if (pending.size() - pos < 3)
                break;
            const std::size_t length = pending[pos + 1] | pending[pos + 2] << 8;
            const std::size_t total = length + 7;
            if (pending.size() - pos < total)
                break;
            if (pending[pos + total - 1] != 0xBD) {
                ++pos;
                ++skipped;
                continue;
            }
            onFrame(std::vector<uint8_t>(pending.begin() + long(pos), pending.begin() + long(pos + total)));
            pos += total;
        }
        pending.erase(pending.begin(), pending.begin() + long(pos));
    }
};

// Writes `request` on 0x04 and returns the first whole frame answered on 0x85.
std::vector<uint8_t> exchange(libusb_device_handle* h, const std::vector<uint8_t>& request)
{
    Transfer in(h, EpAnswer, 512, 1000);
    Transfer out(h, EpCommand, 0, 1000, request);
    if (int r = in.submit())
        fail("submit on 0x85: %s", libusb_error_name(r));
    if (int r = out.submit())
        fail("submit on 0x04: %s", libusb_error_name(r));
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    handleEventsUntil(out.done, deadline);
    if (!out.done || out.t->status != LIBUSB_TRANSFER_COMPLETED || out.t->actual_length != int(request.size()))
        fail("write on 0x04 did not complete (status %d)", out.done ? out.t->status : -1);
    FrameCutter cutter;
    std::vector<uint8_t> answer;
    while (answer.empty()) {
        handleEventsUntil(in.done, deadline);
        if (!in.done)
            fail("no answer on 0x85");
        if (in.t->status != LIBUSB_TRANSFER_COMPLETED)
            fail("read on 0x85 ended with status %d", in.t->status);
        cutter.feed(in.buffer.data(), std::size_t(in.t->actual_length),
                    [&](std::vector<uint8_t> f) { if (answer.empty()) answer = std::move(f); });
        if (answer.empty() && in.submit() != 0)
            fail("resubmit on 0x85 failed");
    }
    return answer;
}

void checkEcho(libusb_device_handle* h)
{
    const std::vector<uint8_t> answer = exchange(h, EchoRequest);
    if (answer.size() < 8 || answer[3] != 0x01)
        fail("echo answer has code 0x%02x, size %zu", answer.size() > 3 ? answer[3] : 0, answer.size());
    std::string hex;
    for (uint8_t b : answer) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X ", b);
        hex += buf;
    }
    say("ECHO-OK %s", hex.c_str());
}

int runEcho()
{
    libusb_device_handle* h = openRecorder(nullptr);
    if (!h)
        fail("recorder not found");
    checkEcho(h);
    libusb_release_interface(h, Interface);
    libusb_close(h);
    return 0;
}

// Turns the converter on and puts several signal reads in flight, as the
// service keeps them, so no frame waits for a resubmit.
std::vector<Transfer*> startStream(libusb_device_handle* h)
{
    exchange(h, AdcOnRequest);
    Transfer::completionOrder.clear();
    constexpr int InFlight = 4;
    std::vector<Transfer*> reads;
    for (int i = 0; i < InFlight; ++i) {
        reads.push_back(new Transfer(h, EpSignal, 128, 250));
        if (int r = reads.back()->submit())
            fail("submit on 0x83: %s", libusb_error_name(r));
    }
    return reads;
}

int runStream(int rate, int seconds)
{
    libusb_device_handle* h = openRecorder(nullptr);
    if (!h)
        fail("recorder not found");
    std::vector<Transfer*> reads = startStream(h);
    FrameCutter cutter;
    long frames = 0, gaps = 0, timeouts = 0;
    int lastNumber = -1;
    Clock::time_point first{}, last{};
    const auto end = Clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(500);
    while (Clock::now() < end) {
        timeval tv{0, 50000};
        libusb_handle_events_timeout_completed(g_ctx, &tv, nullptr);
        while (!Transfer::completionOrder.empty()) {
            Transfer* t = Transfer::completionOrder.front();
            Transfer::completionOrder.pop_front();
            if (t->t->status == LIBUSB_TRANSFER_TIMED_OUT)
                ++timeouts;
            else if (t->t->status != LIBUSB_TRANSFER_COMPLETED)
                fail("read on 0x83 ended with status %d", t->t->status);
            cutter.feed(t->buffer.data(), std::size_t(t->t->actual_length), [&](const std::vector<uint8_t>& f) {
                if (f.size() != 57 || f[3] != 0x80)
                    return; // cable frames and others are not counted
                const int number = f[52] | f[53] << 8;
                if (lastNumber >= 0 && number != ((lastNumber + 1) & 0xFFFF)) {
                    ++gaps;
                    say("GAP after frame %d: %d", lastNumber, number);
                }
                lastNumber = number;
                const auto now = Clock::now();
                if (frames == 0)
                    first = now;
                last = now;
                ++frames;
            });
            if (int r = t->submit())
                fail("resubmit on 0x83: %s", libusb_error_name(r));
        }
    }
    for (Transfer* t : reads)
        libusb_cancel_transfer(t->t);
    for (Transfer* t : reads) {
        handleEventsUntil(t->done, Clock::now() + std::chrono::seconds(2));
        delete t;
    }
    const double span = std::chrono::duration<double>(last - first).count();
    const double measured = frames > 1 && span > 0 ? double(frames - 1) / span : 0.0;
    say("STREAM frames=%ld gaps=%ld skippedBytes=%zu timeouts=%ld rate=%.1f", frames, gaps, cutter.skipped,
        timeouts, measured);
    if (frames < rate * seconds / 2)
        fail("only %ld frames in %d s at %d frames per second", frames, seconds, rate);
    if (gaps != 0 || cutter.skipped != 0)
        fail("the signal stream has gaps");
    // Loose bounds: the point is the pacing follows the configured rate,
    // not the precision of a shared machine's scheduler.
    if (measured < rate * 0.8 || measured > rate * 1.25)
        fail("frames arrive at %.1f per second, configured %d", measured, rate);
    libusb_release_interface(h, Interface);
    libusb_close(h);
    return 0;
}

int runUnplug()
{
    int address = 0;
    libusb_device_handle* h = openRecorder(&address);
    if (!h)
        fail("recorder not found");
    // Nothing will be answered on 0x85 and these wait forever: only the
    // unplug can end them.
    std::vector<Transfer*> pending;
    for (unsigned char ep : {EpAnswer, EpAnswer, EpSignal}) {
        pending.push_back(new Transfer(h, ep, 128, 0));
        if (int r = pending.back()->submit())
            fail("submit on 0x%02x: %s", ep, libusb_error_name(r));
    }
    say("READY-FOR-UNPLUG address=%d", address);
    auto allDone = [&] {
        for (Transfer* t : pending)
            if (!t->done)
                return false;
        return true;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!allDone() && Clock::now() < deadline) {
        timeval tv{0, 20000};
        libusb_handle_events_timeout_completed(g_ctx, &tv, nullptr);
        // The stream may deliver before the unplug: keep reading it.
        for (Transfer* t : pending) {
            if (t->done && t->t->status == LIBUSB_TRANSFER_COMPLETED) {
                const int r = t->submit();
                if (r == LIBUSB_ERROR_NO_DEVICE) {
                    // Completed just before the unplug; the refused
                    // resubmit is this read's view of the unplug.
                    t->done = true;
                    t->t->status = LIBUSB_TRANSFER_NO_DEVICE;
                    t->endedNs = monotonicNs();
                } else if (r != 0) {
                    fail("resubmit: %s", libusb_error_name(r));
                }
            }
        }
    }
    if (!allDone())
        fail("pending transfers did not end after the unplug");
    int64_t lastEnd = 0;
    for (Transfer* t : pending) {
        if (t->t->status != LIBUSB_TRANSFER_NO_DEVICE)
            fail("pending transfer on 0x%02x ended with status %d, not NO_DEVICE", t->t->endpoint, t->t->status);
        lastEnd = std::max(lastEnd, t->endedNs);
    }
    Transfer late(h, EpAnswer, 64, 100);
    const int r = late.submit();
    if (r != LIBUSB_ERROR_NO_DEVICE)
        fail("a submit after the unplug gave %s, not LIBUSB_ERROR_NO_DEVICE", libusb_error_name(r));
    say("UNPLUG-OK endedAtNs=%lld", static_cast<long long>(lastEnd));
    for (Transfer* t : pending)
        delete t;
    libusb_release_interface(h, Interface);
    libusb_close(h);

    // Re-plug: the recorder comes back at a new address and works.
    const auto replugDeadline = Clock::now() + std::chrono::seconds(10);
    libusb_device_handle* again = nullptr;
    int newAddress = 0;
    while (!again && Clock::now() < replugDeadline) {
        timeval tv{0, 20000};
        libusb_handle_events_timeout_completed(g_ctx, &tv, nullptr);
        again = openRecorder(&newAddress);
    }
    if (!again)
        fail("the recorder was not found again after the re-plug");
    if (newAddress == address)
        fail("the re-plugged recorder kept address %d", address);
    checkEcho(again);
    say("REPLUG-OK address=%d", newAddress);
    libusb_release_interface(again, Interface);
    libusb_close(again);
    return 0;
}

int runStall()
{
    libusb_device_handle* h = openRecorder(nullptr);
    if (!h)
        fail("recorder not found");
    Transfer in(h, EpAnswer, 64, 0);
    if (int r = in.submit())
        fail("submit on 0x85: %s", libusb_error_name(r));
    say("READY-FOR-STALL");
    handleEventsUntil(in.done, Clock::now() + std::chrono::seconds(10));
    if (!in.done || in.t->status != LIBUSB_TRANSFER_STALL)
        fail("read on 0x85 did not end with a stall (status %d)", in.done ? in.t->status : -1);
    // Still stalled until the halt is cleared.
    Transfer again(h, EpAnswer, 64, 0);
    again.submit();
    handleEventsUntil(again.done, Clock::now() + std::chrono::seconds(5));
    if (!again.done || again.t->status != LIBUSB_TRANSFER_STALL)
        fail("the second read on 0x85 did not stall (status %d)", again.done ? again.t->status : -1);
    if (int r = libusb_clear_halt(h, EpAnswer))
        fail("clear halt: %s", libusb_error_name(r));
    checkEcho(h);
    say("STALL-OK");
    libusb_release_interface(h, Interface);
    libusb_close(h);
    return 0;
}

int64_t percentileUs(std::vector<int64_t> ns, double p)
{
    if (ns.empty())
        return -1;
    std::sort(ns.begin(), ns.end());
    const std::size_t i = std::min(ns.size() - 1, std::size_t(p * double(ns.size() - 1) + 0.5));
    return ns[i] / 1000;
}

// The stream as the service reads it, commands beside it as fast as one
// exchange at a time allows, and the moments marked frames are seen.
int runBench(int seconds, int gapMs)
{
    libusb_device_handle* h = openRecorder(nullptr);
    if (!h)
        fail("recorder not found");
    std::vector<Transfer*> reads = startStream(h);
    Transfer answerRead(h, EpAnswer, 512, 1000);
    Transfer commandWrite(h, EpCommand, 0, 1000, ReadRtcRequest);
    bool exchanging = false, written = false, readPending = false;
    int64_t startedNs = 0, nextNs = monotonicNs();
    FrameCutter answerCutter;
    std::vector<int64_t> rtts;
    long failed = 0;

    FrameCutter cutter;
    long frames = 0, gaps = 0;
    int lastNumber = -1;
    const int64_t beginNs = monotonicNs();
    const int64_t endNs = beginNs + int64_t(seconds) * 1000000000;
    while (monotonicNs() < endNs) {
        int64_t now = monotonicNs();
        if (gapMs >= 0 && !exchanging && now >= nextNs) {
            answerCutter.pending.clear();
            if (answerRead.submit() != 0 || commandWrite.submit() != 0)
                fail("submitting an exchange failed");
            exchanging = readPending = true;
            written = false;
            startedNs = now;
        }
        const int64_t waitNs = exchanging || gapMs < 0 ? 20000000 : std::max<int64_t>(0, nextNs - now);
        timeval tv{0, long(std::min<int64_t>(waitNs, 20000000) / 1000)};
        libusb_handle_events_timeout_completed(g_ctx, &tv, nullptr);
        while (!Transfer::completionOrder.empty()) {
            Transfer* t = Transfer::completionOrder.front();
            Transfer::completionOrder.pop_front();
            if (t == &commandWrite) {
                written = true;
                if (t->t->status != LIBUSB_TRANSFER_COMPLETED)
                    ++failed;
                continue;
            }
            if (t == &answerRead) {
                readPending = false;
                bool answered = false;
                if (t->t->status == LIBUSB_TRANSFER_COMPLETED)
                    answerCutter.feed(t->buffer.data(), std::size_t(t->t->actual_length),
                                      [&](const std::vector<uint8_t>& f) { answered = answered || f[3] == 0x05; });
                if (answered) {
                    rtts.push_back(t->endedNs - startedNs);
                    exchanging = false;
                } else if (t->t->status == LIBUSB_TRANSFER_COMPLETED) {
                    if (answerRead.submit() != 0)
                        fail("resubmit on 0x85 failed");
                    readPending = true;
                } else {
                    ++failed;
                    exchanging = false;
                }
                if (!exchanging)
                    nextNs = t->endedNs + int64_t(gapMs) * 1000000;
                continue;
            }
            if (t->t->status != LIBUSB_TRANSFER_COMPLETED && t->t->status != LIBUSB_TRANSFER_TIMED_OUT)
                fail("read on 0x83 ended with status %d", t->t->status);
            cutter.feed(t->buffer.data(), std::size_t(t->t->actual_length), [&](const std::vector<uint8_t>& f) {
                if (f.size() != 57 || f[3] != 0x80)
                    return;
                const int number = f[52] | f[53] << 8;
                if (lastNumber >= 0 && number != ((lastNumber + 1) & 0xFFFF))
                    ++gaps;
                lastNumber = number;
                ++frames;
                const int32_t first = int32_t(f[4] | f[5] << 8 | f[6] << 16);
                if (first == MarkerValue)
                    say("SEEN mark %lld", static_cast<long long>(t->endedNs));
                if (f[43] & 1)
                    say("SEEN button %lld", static_cast<long long>(t->endedNs));
            });
            if (int r = t->submit())
                fail("resubmit on 0x83: %s", libusb_error_name(r));
        }
    }
    (void)written;
    if (readPending)
        libusb_cancel_transfer(answerRead.t);
    for (Transfer* t : reads)
        libusb_cancel_transfer(t->t);
    for (Transfer* t : reads) {
        handleEventsUntil(t->done, Clock::now() + std::chrono::seconds(2));
        delete t;
    }
    if (readPending)
        handleEventsUntil(answerRead.done, Clock::now() + std::chrono::seconds(2));
    const double span = double(monotonicNs() - beginNs) / 1e9;
    say("BENCH exchanges=%zu failed=%ld rate=%.1f rttP50Us=%lld rttP99Us=%lld frames=%ld gaps=%ld", rtts.size(),
        failed, double(rtts.size()) / span, static_cast<long long>(percentileUs(rtts, 0.5)),
        static_cast<long long>(percentileUs(rtts, 0.99)), frames, gaps);
    libusb_release_interface(h, Interface);
    libusb_close(h);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (int r = libusb_init(&g_ctx))
        fail("libusb_init: %s", libusb_error_name(r));
    int result = 2;
    if (mode == "echo")
        result = runEcho();
    else if (mode == "stream" && argc == 4)
        result = runStream(std::atoi(argv[2]), std::atoi(argv[3]));
    else if (mode == "unplug")
        result = runUnplug();
    else if (mode == "stall")
        result = runStall();
    else if (mode == "bench" && argc == 4)
        result = runBench(std::atoi(argv[2]), std::atoi(argv[3]));
    else
        std::fprintf(stderr, "usage: usbsim_client echo|stream <fps> <seconds>|unplug|stall|bench <seconds> <gap-ms>\n");
    libusb_exit(g_ctx);
    return result;
}
