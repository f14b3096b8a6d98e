// The USB frame parser, alone and inside the two endpoints that cut frames
// out of the recorder's reads: the command answer endpoint and the flash
// read-out endpoint.
//
// Input: byte 0 picks the consumer (and, for the parser alone, the buffer
// size), the rest is the byte stream as read from the endpoint.

#include "fuzzsupport.h"

#include "usb/frameparcer.h"
#include "usb/usbcmdlistener.h"
#include "usb/usbcontext.h"
#include "usb/usbdatalistener.h"

#include <cstring>

using namespace Tavrix::Usb;
using FuzzSupport::Bytes;
using FuzzSupport::Input;

namespace {

// Every completed frame must be what the parser promises: start and end
// byte, its declared length plus the overhead, inside the buffer.
void checkFrame(const FrameParcer& parcer)
{
    const Bytes frame = parcer.frame();
    FUZZ_CHECK(frame.size() <= parcer.bufferSize());
    FUZZ_CHECK(frame.size() == parcer.declaredLength() + 7u);
    FUZZ_CHECK(frame.front() == 0x7E);
    FUZZ_CHECK(frame.back() == 0xBD);
    FUZZ_CHECK(frame[3] == parcer.code());
    FUZZ_CHECK(frame[1] + 256u * frame[2] == parcer.declaredLength());
}

void parseAlone(Input& input, std::size_t bufferSize)
{
    FrameParcer parcer(bufferSize);
    const Bytes stream = input.rest();
    uint64_t frames = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (parcer.put(stream[i])) {
            ++frames;
            checkFrame(parcer);
        }
        FUZZ_CHECK(parcer.size() <= parcer.bufferSize());
        // A reset half-way must leave a parser that works like a new one.
        if (i == stream.size() / 2 && (stream.size() & 1)) {
            parcer.reset();
            frames = 0;
        }
    }
    FUZZ_CHECK(parcer.frameCount() == frames);
}

void commandEndpoint(Input& input)
{
    UsbContext context(nullptr, nullptr);
    UsbCmdListener<133> listener("l_cmd", &context, 512);
    std::size_t answers = 0;
    QObject::connect(&listener, &UsbEndPoint::signalAnswer, [&answers](std::vector<uint8_t> frame, int) {
        FUZZ_CHECK(frame.size() >= 7 && frame.front() == 0x7E && frame.back() == 0xBD);
        ++answers;
    });
    // Reads of the sizes the input gives, as libusb completes them.
    while (!input.empty()) {
        const std::size_t size = std::min<std::size_t>(input.byte() % 64 + 1, listener.bufferSize());
        const Bytes read = input.take(size);
        if (!read.empty())
            std::memcpy(listener.buffer(), read.data(), read.size());
        listener.setReceivedCount(static_cast<int>(read.size()));
        listener.setBusy(false);
        listener.exe();
    }
    (void)answers;
}

void dataEndpoint(Input& input)
{
    UsbContext context(nullptr, nullptr);
    UsbDataListener listener("l_data", &context, 4096);
    const uint64_t start = input.u16();
    const uint64_t finish = start + input.u16();
    const uint32_t blockSize = input.byte();
    uint64_t handedOver = 0;
    bool finished = false;
    QObject::connect(&listener, &UsbEndPoint::signalAnswer,
                     [&](std::vector<uint8_t> block, int status) {
                         FUZZ_CHECK(!finished);
                         handedOver += block.size();
                         FUZZ_CHECK(start + handedOver <= finish);
                         if (status == 1)
                             finished = true;
                         else
                             FUZZ_CHECK(block.size() == blockSize);
                     });
    listener.startReadout(start, finish, blockSize);
    while (!input.empty() && listener.isActive()) {
        const Bytes read = input.take(input.byte() % 200 + 1);
        listener.handleDataBlockIsReceived(read);
    }
}

} // namespace

FUZZ_QUIET_INITIALIZE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Input input(data, size);
    const uint8_t mode = input.byte();
    switch (mode % 4) {
    case 0:
        parseAlone(input, 128); // the ADC endpoint's buffer
        break;
    case 1:
        parseAlone(input, mode >> 2); // small and degenerate buffers
        break;
    case 2:
        commandEndpoint(input);
        break;
    default:
        dataEndpoint(input);
        break;
    }
    return 0;
}
