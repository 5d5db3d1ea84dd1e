#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace app {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the UI thread, so that a
// program ended by its desktop, a Ctrl+C or a closed terminal ends as
// File > Exit does: the session closed and the serial port's lock file
// removed, never left behind to block the next user. While one object
// exists the three signals are caught; its destruction restores their
// default actions.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received();

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace app
