#include "common/jconfig.h"
#include "support/terminalfixture.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace Tavrix::Common;
using Tavrix::Net::WebSockets::WebSocketTerminal;

namespace {

const QByteArray handshake = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

QByteArray textFrame(const QByteArray& text, bool masked)
{
    QByteArray out("\x81", 1);
    out.append(static_cast<char>((masked ? 0x80 : 0) | text.size()));
    if (!masked)
        return out + text;
    const char key[4] = {'\x11', '\x22', '\x33', '\x44'};
    out.append(key, 4);
    for (int i = 0; i < text.size(); ++i)
        out.append(static_cast<char>(text[i] ^ key[i % 4]));
    return out;
}

// What the server sent after its handshake answer, frame by frame (server
// frames are never masked).
struct ServerFrames
{
    QList<QByteArray> texts;
    int closeCode = -1;
};

ServerFrames parseServerFrames(QByteArray bytes)
{
    ServerFrames frames;
    const int head = bytes.indexOf("\r\n\r\n");
    bytes = head < 0 ? QByteArray() : bytes.mid(head + 4);
    while (bytes.size() >= 2) {
        const int opcode = bytes[0] & 0x0F;
        qint64 length = bytes[1] & 0x7F;
        int at = 2;
        if (length == 126) {
            if (bytes.size() < 4)
                break;
            length = (static_cast<uchar>(bytes[2]) << 8) | static_cast<uchar>(bytes[3]);
            at = 4;
        }
        if (bytes.size() < at + length)
            break;
        const QByteArray payload = bytes.mid(at, static_cast<int>(length));
        if (opcode == 1)
            frames.texts.append(payload);
        if (opcode == 8 && payload.size() >= 2)
            frames.closeCode = (static_cast<uchar>(payload[0]) << 8) | static_cast<uchar>(payload[1]);
        bytes = bytes.mid(at + static_cast<int>(length));
    }
    return frames;
}

struct MaskCase
{
    const char* name;
    // Written one after the other, 50 ms apart; the handshake is prefixed
    // to the first.
    QList<QByteArray> writes;
    bool closedWith1002;
};

class ClientFrameGuardTest : public TestSupport::TerminalFixture<::testing::TestWithParam<MaskCase>>
{
protected:
    void SetUp() override
    {
        if (!JConfig::hasRg("maskTestParameter"))
            JConfig::addRg("maskTestParameter", QStringLiteral("seen"));
        TerminalFixture::SetUp();
    }
};

// The terminal answers "?" with its parameters: an unmasked "?" must get no
// answer, only a close with 1002, and the connection must end; a masked one
// is answered and the connection stays.
TEST_P(ClientFrameGuardTest, UnmaskedClientFramesCloseTheConnectionWith1002)
{
    const MaskCase& c = GetParam();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_terminal->serverPort());
    ASSERT_TRUE(socket.waitForConnected(3000));
    QByteArray received;
    for (int i = 0; i < c.writes.size(); ++i) {
        socket.write(i == 0 ? handshake + c.writes[i] : c.writes[i]);
        socket.flush();
        QTest::qWait(50);
        received += socket.readAll();
    }
    const bool answered = QTest::qWaitFor([&] {
        received += socket.readAll();
        const ServerFrames frames = parseServerFrames(received);
        return frames.closeCode >= 0 || !frames.texts.isEmpty();
    }, 5000);
    ASSERT_TRUE(answered) << c.name << ": neither an answer nor a close";
    QTest::qWait(100);
    received += socket.readAll();
    const ServerFrames frames = parseServerFrames(received);
    // "?" prints the parameters to the console as it runs.
    std::fflush(m_console);
    std::rewind(m_console);
    QByteArray console;
    char chunk[4096];
    while (const size_t n = std::fread(chunk, 1, sizeof chunk, m_console))
        console.append(chunk, static_cast<int>(n));
    if (c.closedWith1002) {
        EXPECT_EQ(frames.closeCode, 1002) << c.name;
        for (const QByteArray& text : frames.texts)
            EXPECT_FALSE(text.contains("maskTestParameter")) << c.name << ": the unmasked command was answered";
        // Not only unanswered: never run.
        EXPECT_FALSE(console.contains("maskTestParameter")) << c.name << ": the unmasked command ran";
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000))
            << c.name << ": the server kept the connection";
    } else {
        EXPECT_EQ(frames.closeCode, -1) << c.name;
        bool sawParameter = false;
        for (const QByteArray& text : frames.texts)
            sawParameter = sawParameter || text.contains("maskTestParameter");
        EXPECT_TRUE(sawParameter) << c.name;
        EXPECT_TRUE(console.contains("maskTestParameter")) << c.name;
        EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ClientFrameGuardTest,
    ::testing::Values(
        MaskCase{"masked", {QByteArray(), textFrame("?", true)}, false},
        MaskCase{"masked_behind_the_handshake", {textFrame("?", true)}, false},
        MaskCase{"unmasked", {QByteArray(), textFrame("?", false)}, true},
        MaskCase{"unmasked_behind_the_handshake", {textFrame("?", false)}, true},
        MaskCase{"unmasked_header_split", {QByteArray(), textFrame("?", false).left(1), textFrame("?", false).mid(1)},
                 true},
        MaskCase{"unmasked_after_a_masked_ping",
                 {QByteArray(), QByteArray("\x89\x80\x01\x02\x03\x04", 6), textFrame("?", false)}, true}),
    [](const ::testing::TestParamInfo<MaskCase>& info) { return std::string(info.param.name); });

} // namespace
