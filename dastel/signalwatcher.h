#pragma once

#include <QObject>

class QSocketNotifier;

namespace Tavrix::Dastel {

// Turns SIGINT and SIGTERM into an orderly quit of the event loop, so the
// components are torn down (and the USB interface released) on a stop.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

private:
    void handleSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace Tavrix::Dastel
