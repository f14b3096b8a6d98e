#include "common/jextterminal.h"
#include "common/jmessagehandler.h"
#include "common/jterminal.h"

#include <QtGlobal>
#include <cstdio>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using namespace Tavrix::Common;

namespace {

struct Line
{
    char colour;
    std::string time;
    std::string type;
    std::string text;
};

class RecordingTerminal : public JExtTerminal
{
public:
    void out(char colour, char* time, char* type, char* text) override
    {
        lines.push_back({colour, time, type, text});
    }
    std::vector<Line> lines;
};

std::string contentOf(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

class MessageHandlerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_out = std::tmpfile();
        m_err = std::tmpfile();
        JMessageHandler::setConsole(m_out, m_err);
        m_previous = qInstallMessageHandler(&JMessageHandler::handler);
        JMessageHandler::ExtTerminal(&m_terminal, true);
    }
    void TearDown() override
    {
        JMessageHandler::ExtTerminal(&m_terminal, false);
        qInstallMessageHandler(m_previous);
        JMessageHandler::setConsole(nullptr, nullptr);
        std::fclose(m_out);
        std::fclose(m_err);
    }

    FILE* m_out = nullptr;
    FILE* m_err = nullptr;
    RecordingTerminal m_terminal;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST_F(MessageHandlerTest, ErrorLineGoesRedToConsoleAndToTheTerminal)
{
    JTerminal('1') << "Error: can't read device info";
    const std::string out = contentOf(m_out);
    const std::regex expected("\x1b\\[31m\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] Error: can't read device info\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;

    ASSERT_EQ(m_terminal.lines.size(), 1u);
    EXPECT_EQ(m_terminal.lines[0].colour, 1);
    EXPECT_EQ(m_terminal.lines[0].type, "Debug");
    EXPECT_EQ(m_terminal.lines[0].text, "Error: can't read device info");
    EXPECT_TRUE(std::regex_match(m_terminal.lines[0].time, std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\])")));
}

TEST_F(MessageHandlerTest, ColourDigitsSelectEscapes)
{
    const std::pair<char, const char*> cases[] = {
        {'0', "\x1b[0m"}, {'2', "\x1b[32m"}, {'3', "\x1b[33m"}, {'7', "\x1b[37m"}};
    for (const auto& [digit, escape] : cases) {
        std::rewind(m_out);
        JTerminal(digit) << "x";
        const std::string out = contentOf(m_out);
        EXPECT_EQ(out.rfind(escape, 0), 0u) << digit << " gave " << out;
    }
}

TEST_F(MessageHandlerTest, DebugAndWarningMessagesArePrintedWithAHash)
{
    qDebug("x");
    qWarning("y");
    EXPECT_EQ(contentOf(m_out), "#x\n");
    EXPECT_EQ(contentOf(m_err), "#y\n");
    EXPECT_EQ(m_terminal.lines.size(), 2u); // every type reaches the terminal
}

TEST_F(MessageHandlerTest, LongMessagesAreCutTo399Bytes)
{
    const std::string text(500, 'a');
    qDebug("%s", text.c_str());
    EXPECT_EQ(contentOf(m_out), "#" + std::string(399, 'a') + "\n");
    ASSERT_EQ(m_terminal.lines.size(), 1u);
    EXPECT_EQ(m_terminal.lines[0].text.size(), 397u); // the colour digit and its space are skipped
}

TEST_F(MessageHandlerTest, JTerminalFormatsItemsLikeQDebug)
{
    JTerminal() << "parameter" << QString("argc1") << 42;
    ASSERT_EQ(m_terminal.lines.size(), 1u);
    EXPECT_EQ(m_terminal.lines[0].colour, 0);
    EXPECT_EQ(m_terminal.lines[0].text, "parameter \"argc1\" 42");
}

TEST_F(MessageHandlerTest, DisabledTerminalProducesNothingAndEmptyMessagesAreIgnored)
{
    JTerminal('1', false) << "hidden";
    qDebug("%s", "");
    EXPECT_EQ(contentOf(m_out), "");
    EXPECT_TRUE(m_terminal.lines.empty());
}

TEST_F(MessageHandlerTest, RemovedTerminalGetsNoMoreLines)
{
    JMessageHandler::ExtTerminal(&m_terminal, false);
    JTerminal() << "after removal";
    EXPECT_TRUE(m_terminal.lines.empty());
    EXPECT_NE(contentOf(m_out).find("after removal"), std::string::npos);
}
