#include "net/websockets/clientframescanner.h"

#include <QByteArray>
#include <gtest/gtest.h>

using Tavrix::Net::WebSockets::ClientFrameScanner;

namespace {

QByteArray frame(quint64 length, bool masked, char payloadByte = '\x82')
{
    QByteArray out;
    out.append('\x81');
    const char maskBit = masked ? '\x80' : '\0';
    if (length < 126) {
        out.append(static_cast<char>(maskBit | static_cast<char>(length)));
    } else if (length <= 0xFFFF) {
        out.append(static_cast<char>(maskBit | 126));
        for (int shift = 8; shift >= 0; shift -= 8)
            out.append(static_cast<char>((length >> shift) & 0xFF));
    } else {
        out.append(static_cast<char>(maskBit | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.append(static_cast<char>((length >> shift) & 0xFF));
    }
    if (masked)
        out.append("\x01\x02\x03\x04", 4);
    // Payload bytes that would read as an unmasked header if the scanner
    // lost its place.
    out.append(QByteArray(static_cast<int>(length), payloadByte));
    return out;
}

struct ScanCase
{
    const char* name;
    QByteArray stream;
    bool unmaskedSeen;
    quint64 frames;
};

class ClientFrameScannerTest : public ::testing::TestWithParam<ScanCase>
{
};

TEST_P(ClientFrameScannerTest, FindsTheFirstUnmaskedFrameWhateverThePieces)
{
    const ScanCase& c = GetParam();
    for (int piece : {1, 3, 7, 1 << 20}) {
        ClientFrameScanner scanner;
        for (int at = 0; at < c.stream.size(); at += piece)
            scanner.feed(c.stream.constData() + at, static_cast<std::size_t>(std::min(piece, c.stream.size() - at)));
        EXPECT_EQ(scanner.sawUnmaskedFrame(), c.unmaskedSeen) << c.name << " in pieces of " << piece;
        EXPECT_EQ(scanner.frames(), c.frames) << c.name << " in pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ClientFrameScannerTest,
    ::testing::Values(
        ScanCase{"empty masked frame", frame(0, true), false, 1},
        ScanCase{"three masked frames, one-byte lengths", frame(5, true) + frame(125, true) + frame(1, true), false, 3},
        ScanCase{"two-byte length", frame(126, true) + frame(4000, true) + frame(3, true), false, 3},
        ScanCase{"eight-byte length", frame(70000, true) + frame(2, true), false, 2},
        ScanCase{"unmasked first", frame(3, false), true, 0},
        ScanCase{"unmasked after masked ones", frame(10, true) + frame(300, true) + frame(1, false) + frame(4, true),
                 true, 2},
        ScanCase{"payload full of header-like bytes", frame(200, true, '\x01') + frame(9, true, '\x7e'), false, 2},
        ScanCase{"unmasked empty frame", frame(1, true) + frame(0, false), true, 1}),
    [](const ::testing::TestParamInfo<ScanCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

} // namespace
