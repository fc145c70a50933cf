#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumivale {

class Platform;
class WallpaperManager;

// The one way the application quits: every request (the menu, a signal, a
// logout, the `--quit` command) asks the coordinator, which freezes the frame
// on screen into the desktop picture first and then ends the process.
//
//   Idle ──request──▶ Freezing ──freeze done, failed or past the limit──▶ Ready
//
// A request while Freezing joins the freeze: the process exits once. A request
// in Ready is answered at once. The state never goes back.
//
// Main thread only. The manager and platform are borrowed and must outlive the
// coordinator. A failed or hung freeze does not stop the quit: it leaves one
// line, "freeze wallpaper before quit failed:", and the quit goes on. When
// Ready is reached the command socket is closed (callers from then on find no
// running instance) and `exitApplication` is called, once.
class QuitCoordinator : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Freezing, Ready };
    enum class Reply { Now, Later };

    // `exitApplication` ends the event loop; `freezeLimit` is the longest the
    // quit waits for the freeze.
    QuitCoordinator(WallpaperManager &manager, Platform &platform,
                    std::chrono::milliseconds freezeLimit, std::function<void()> exitApplication,
                    QObject *parent = nullptr);

    // Stops accepting commands; called once, when the quit is ready.
    void setCommandSocketCloser(std::function<void()> close)
    {
        m_closeCommandSocket = std::move(close);
    }

    // Asks, then exits at once or once the freeze has finished.
    void requestTermination();
    // Now when ready; otherwise starts the freeze (first request only) and
    // answers Later.
    Reply applicationShouldTerminate();

    State state() const { return m_state; }
    bool isReadyToTerminate() const { return m_state == State::Ready; }
    std::chrono::milliseconds freezeLimit() const { return m_freezeLimit; }

Q_SIGNALS:
    // The freeze has ended; the process exits next.
    void readyToTerminate();

private:
    QCoro::Task<> freezeThenFinish();
    void finish();

    WallpaperManager &m_manager;
    Platform &m_platform;
    const std::chrono::milliseconds m_freezeLimit;
    std::function<void()> m_exitApplication;
    std::function<void()> m_closeCommandSocket;
    State m_state = State::Idle;
};

} // namespace lumivale
