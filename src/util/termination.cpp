// Termination signals and the end of the desktop session turned into an orderly close.
#include "util/termination.h"

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace zentaro {

namespace {

int g_fds[2] = {-1, -1};

void onSignal(int signo) {
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject* parent) : QObject(parent) {
    if (g_fds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_fds) != 0) return;
    // Signals that an earlier watcher already answered are not for this one: a run started after a window
    // closed on SIGTERM in the same process would otherwise stop at once.
    char stale[64];
    while (::recv(g_fds[1], stale, sizeof stale, MSG_DONTWAIT) > 0) {
    }
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(g_fds[1], &byte, 1) != 1 || m_fired) return;
        m_fired = true;
        emit terminationRequested(int(byte));
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
}

TerminationWatcher::~TerminationWatcher() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
}

} // namespace zentaro
