#include "support/msgpackreader.h"
#include "usb/beateventmessagepacker.h"
#include "usb/erroreventmessagepacker.h"
#include "usb/eventwithoutdatamessagepacker.h"
#include "usb/pushbuttoneventmessagepacker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Tavrix::Usb;
using Tavrix::Common::MessagePacker;

namespace {

using Bytes = std::vector<uint8_t>;

using TestSupport::cat;
using TestSupport::str;

Bytes packed(IEventMessagePacker&& packer)
{
    MessagePacker out;
    packer.pack(out);
    return Bytes(out.data().begin(), out.data().end());
}

} // namespace

TEST(EventMessagePackers, PushButtonCarriesTheFrameCounter)
{
    struct Case
    {
        uint32_t frameCounter;
        Bytes value;
    };
    const Case cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {200, {0xCC, 0xC8}},
        {65534, {0xCD, 0xFF, 0xFE}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(packed(PushButtonEventMessagePacker(c.frameCounter)),
                  cat({{0x82}, str("type"), str("buttonPush"), str("data"), {0x81}, str("frameCounter"), c.value}))
            << c.frameCounter;
    }
}

TEST(EventMessagePackers, BeatCarriesFrameIntervalAndRate)
{
    EXPECT_EQ(packed(BeatEventMessagePacker(0, 0, 0)),
              cat({{0x84}, str("type"), str("beat"), str("frame"), {0x00}, str("rr"), {0x00}, str("hr"), {0x00}}));
    EXPECT_EQ(packed(BeatEventMessagePacker(65534, 833, 72)),
              cat({{0x84}, str("type"), str("beat"), str("frame"), {0xCD, 0xFF, 0xFE}, str("rr"), {0xCD, 0x03, 0x41},
                   str("hr"), {0x48}}));
}

TEST(EventMessagePackers, ErrorCarriesTypeAndMessage)
{
    EXPECT_EQ(packed(ErrorEventMessagePacker("a", "b")),
              cat({{0x83}, str("type"), str("error"), str("errorType"), str("a"), str("message"), str("b")}));

    // A text of 32 bytes or more needs the one-byte length form.
    const std::string longText(40, 'x');
    Bytes longMessage = cat({{0x83}, str("type"), str("error"), str("errorType"), str("CommandError"),
                             str("message"), {0xD9, 40}});
    longMessage.insert(longMessage.end(), longText.begin(), longText.end());
    EXPECT_EQ(packed(ErrorEventMessagePacker("CommandError", longText)), longMessage);
}

TEST(EventMessagePackers, EventWithoutDataIsItsName)
{
    EXPECT_EQ(packed(EventWithoutDataMessagePacker("deviceConnect")),
              cat({{0x81}, str("type"), {0xAD}, Bytes{'d', 'e', 'v', 'i', 'c', 'e', 'C', 'o', 'n', 'n', 'e', 'c', 't'}}));
    EXPECT_EQ(packed(EventWithoutDataMessagePacker("cableDisconnect")),
              cat({{0x81}, str("type"), str("cableDisconnect")}));
}

TEST(EventMessagePackers, PackersAppendToWhatIsAlreadyWritten)
{
    MessagePacker out;
    out.packMapHeader(2);
    out << "type" << "event" << "data";
    out.packArrayHeader(1);
    ErrorEventMessagePacker("a", "b").pack(out);
    EXPECT_EQ(Bytes(out.data().begin(), out.data().end()),
              cat({{0x82}, str("type"), str("event"), str("data"), {0x91}, {0x83}, str("type"), str("error"),
                   str("errorType"), str("a"), str("message"), str("b")}));
}
