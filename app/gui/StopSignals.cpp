#include "app/gui/StopSignals.h"

#include <fcntl.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

namespace morvane {

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes a byte; the window is closed from the event loop.
int wakeFds[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

// Modal dialogs are closed one by one before the window, each after the one
// before it has returned; a dialog that does not close is given up on.
constexpr int kDialogAttempts = 20;

}  // namespace

CloseOnStopSignals::CloseOnStopSignals(QWidget& window) : window_(window) {
    if (wakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0) {
        wakeFds[0] = wakeFds[1] = -1;
        return;  // no way to hear of a signal: they keep their default action
    }
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Received(); });
    for (int i = 0; i < 3; ++i) {
        if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 || previous_[i].sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART | SA_RESETHAND;  // the second signal takes its default action
        installed_[i] = ::sigaction(kSignals[i], &sa, nullptr) == 0;
    }
}

CloseOnStopSignals::~CloseOnStopSignals() {
    for (int i = 0; i < 3; ++i)
        if (installed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
}

void CloseOnStopSignals::Received() {
    char bytes[16];
    while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
    }
    CloseWindow(kDialogAttempts);
}

void CloseOnStopSignals::CloseWindow(int attempts) {
    if (QWidget* modal = QApplication::activeModalWidget(); modal && attempts > 0) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(0, this, [this, attempts] { CloseWindow(attempts - 1); });
        return;
    }
    window_.close();
}

}  // namespace morvane
