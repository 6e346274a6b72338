// Termination signals and the end of the desktop session turned into an orderly close.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace zentaro {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the event loop, so that the program closes as if the
// user had closed it, with everything stored. The signal handler only writes one byte into a pipe; a second
// signal during the closing cannot cut a write in half.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

signals:
    // Emitted once, at the first signal.
    void terminationRequested(int signo);

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_fired = false;
};

} // namespace zentaro
