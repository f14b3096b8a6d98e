// A listener that hit an accept error that is not temporary accepts again
// on its own: the streams' and the HTTP API's listeners share this.

#include "net/webapi/acceptretry.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using Tavrix::Net::WebApi::keepAcceptingAfterErrors;

TEST(AcceptRetry, ListenerPausedByAnAcceptErrorTakesConnectionsAgain)
{
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept ? "kept accepting" : "left paused");
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        if (kept)
            keepAcceptingAfterErrors(&server, 50);
        // What QTcpServer itself does on such an error.
        server.pauseAccepting();
        emit server.acceptError(QAbstractSocket::SocketResourceError);

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        const bool taken = QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, 1500);
        EXPECT_EQ(taken, kept);
    }
}
