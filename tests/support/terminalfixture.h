#pragma once

#include "common/jmessagehandler.h"
#include "net/websockets/websocketterminal.h"

#include <QHostAddress>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace TestSupport {

// A WebSocket terminal on a free loopback port that receives the process's
// log; the console goes to a temporary file (m_console) so that tests can
// read what was logged. `Base` is ::testing::Test or a TestWithParam.
template<typename Base = ::testing::Test>
class TerminalFixture : public Base
{
protected:
    void SetUp() override
    {
        m_console = std::tmpfile();
        Tavrix::Common::JMessageHandler::setConsole(m_console, m_console);
        m_previousHandler = qInstallMessageHandler(&Tavrix::Common::JMessageHandler::handler);
        m_terminal = std::make_unique<Tavrix::Net::WebSockets::WebSocketTerminal>(0, QHostAddress::LocalHost);
        ASSERT_TRUE(m_terminal->isListening());
        Tavrix::Common::JMessageHandler::ExtTerminal(m_terminal.get(), true);
    }
    void TearDown() override
    {
        Tavrix::Common::JMessageHandler::ExtTerminal(m_terminal.get(), false);
        m_terminal.reset();
        qInstallMessageHandler(m_previousHandler);
        Tavrix::Common::JMessageHandler::setConsole(nullptr, nullptr);
        std::fclose(m_console);
    }

    FILE* m_console = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
    std::unique_ptr<Tavrix::Net::WebSockets::WebSocketTerminal> m_terminal;
};

} // namespace TestSupport
