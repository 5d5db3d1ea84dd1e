#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <vector>

namespace app {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the UI thread, so that a
// program ended by its desktop, a Ctrl+C or a closed terminal ends as
// File > Exit does: the session closed and the serial port's lock file
// removed, never left behind to block the next user. While one object
// exists the three signals are caught, except those the program was started
// with ignored (nohup): they stay ignored. Its destruction restores the
// default actions of those it caught.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Once for every signal that came, with its number, in order.
    void received(int signalNumber);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<int> m_caught;
};

} // namespace app
