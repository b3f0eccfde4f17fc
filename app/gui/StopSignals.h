// A program asked to stop by a signal (SIGTERM at logout or shutdown, SIGHUP
// when its terminal goes, Ctrl-C in the terminal that started it) closes its
// window as the close box does: a run in progress stops after the file in
// work, the settings are saved and the working folder is removed. A second
// signal ends the program at once; a signal ignored when the program started
// stays ignored.
#pragma once

#include <QObject>
#include <QWidget>

#include <csignal>

class QSocketNotifier;

namespace morvane {

class CloseOnStopSignals : public QObject {
public:
    explicit CloseOnStopSignals(QWidget& window);
    // Puts back the handlers the signals had before.
    ~CloseOnStopSignals() override;
    CloseOnStopSignals(const CloseOnStopSignals&) = delete;
    CloseOnStopSignals& operator=(const CloseOnStopSignals&) = delete;

private:
    void Received();
    void CloseWindow(int attempts);

    QWidget& window_;
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
    bool installed_[3] = {};
};

}  // namespace morvane
