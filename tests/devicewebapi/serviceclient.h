#pragma once

#include <iostream>

// Drives the real service under the simulated recorder over HTTP: posts
// web commands to "cmd" and reads the recorder's state through the
// simulator's control port.

#include "support/serviceundersimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace ServiceTesting {

// Runs this thread's event loop until `condition` holds or `timeoutMs` passed,
// for clients that live on it (WebSockets); whether it holds.
inline bool pump(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// Polls `condition` every 50 ms; false when it did not hold within the time.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// One request on its own connection; the service closes it after answering.
class PendingRequest
{
public:
    PendingRequest(quint16 port, const QByteArray& body)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.waitForConnected(2000);
        m_socket.write("POST /cmd HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
                       QByteArray::number(body.size()) + "\r\n\r\n" + body);
        m_socket.waitForBytesWritten(2000);
    }

    // The response body ("" when none came within the time). The time is a
    // fail-safe for an answer that never comes, generous for a loaded machine.
    QByteArray body(int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < timeoutMs) {
            m_socket.waitForReadyRead(50);
            m_raw += m_socket.readAll();
            QCoreApplication::processEvents();
        }
        m_raw += m_socket.readAll();
        const int split = m_raw.indexOf("\r\n\r\n");
        return split < 0 ? QByteArray() : m_raw.mid(split + 4);
    }

private:
    QTcpSocket m_socket;
    QByteArray m_raw;
};

class ServiceFixture : public ::testing::Test
{
protected:
    // Type 22 carries every operation, the cuff switches included.
    void SetUp() override { startService(22); }
    void TearDown() override
    {
        // A failure that happens rarely is only understood from what the
        // simulator and the service printed meanwhile.
        if (HasFailure())
            std::cerr << "output of the simulator and the service:\n" << service.sim().output() << std::endl;
        if (service.running())
            EXPECT_EQ(service.stop(), 0) << "the service did not end cleanly:\n" << service.sim().output();
    }

    // `frequency` 0: the model's default.
    void startService(int deviceType, int frequency = 0)
    {
        ServiceUnderSimulator::Launcher::Options options;
        options.deviceType = deviceType;
        options.frequency = frequency;
        DASTEL_START_SERVICE_OR_SKIP(service, options);
        // Identified once a described command gets an answer that is not
        // DEVICE_DISCONNECTED. No answer at all (a slow start) is not enough:
        // the identification may still be running, and a fault a test injects
        // next would hit it instead of the test's own request.
        ASSERT_TRUE(waitFor([this] {
            const QJsonObject answer = answerOf("GetPower");
            return !answer.isEmpty() && answer["errorcode"].toString() != "DEVICE_DISCONNECTED";
        }, 30000)) << service.sim().output();
    }

    // A type 21 recorder at `frequency` frames/s that keeps every frame for
    // the service, however far a loaded machine puts it behind: what a test
    // counts is what was sent, and only a frame it drops itself is lost.
    void startKeepingEveryFrame(int frequency)
    {
        startService(21, frequency);
        if (!IsSkipped() && !HasFatalFailure())
            control("set backlogFrames 1000000");
    }

    static bool waitFor(const std::function<bool()>& condition, int timeoutMs)
    {
        return ServiceTesting::waitFor(condition, timeoutMs);
    }

    QByteArray postRaw(const QByteArray& body) { return PendingRequest(service.httpPort(), body).body(); }

    // {"cmd": name, "uid": 1} with "data" when given.
    QByteArray post(const std::string& name, const QJsonValue& data = QJsonValue::Undefined)
    {
        QJsonObject request{{"cmd", QString::fromStdString(name)}, {"uid", 1}};
        if (!data.isUndefined())
            request.insert("data", data);
        return postRaw(QJsonDocument(request).toJson(QJsonDocument::Compact));
    }

    QJsonObject answerOf(const std::string& name, const QJsonValue& data = QJsonValue::Undefined)
    {
        return QJsonDocument::fromJson(post(name, data)).object();
    }

    std::string control(const std::string& line)
    {
        const QJsonObject answer = service.sim().requestJson(line);
        EXPECT_TRUE(answer.value("ok").toBool()) << line << ": " << service.sim().request(line);
        return line;
    }

    QJsonObject model() { return service.sim().requestJson("state").value("model").toObject(); }

    ServiceUnderSimulator service;
};

} // namespace ServiceTesting
