#pragma once

#include "testenvironment.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace lumivale::test {

// The real programs of one desktop, started headless on the display of an
// XSession (which must be running, without its own window manager): "openbox",
// "i3", "xfce" (xfwm4 and xfdesktop), "mate" (marco and caja), "cinnamon"
// (muffin and nemo-desktop), "budgie" (budgie-desktop-view under openbox
// and xcompmgr), "gnome" (GNOME Shell on X11, with logind mocked) or
// "gnome-icons" (the same with the desktop-icons extension).
// Sets XDG_CURRENT_DESKTOP for this process as the desktop's session would.
// Stopping ends every program it started.
class DesktopPrograms
{
public:
    ~DesktopPrograms();

    // The first program the desktop needs that is not installed, or empty.
    static QString missingProgram(const QString &desktop);
    // Whether the desktop draws icons in a desktop window of its own.
    static bool hasIcons(const QString &desktop);

    // Starts the programs, and waits until the window manager runs and, on
    // desktops with icons, their desktop window is mapped.
    bool start(const QString &desktop);
    void stop();

    // Starts one more program of the desktop (a desktop program that was
    // stopped and is expected back), kept until stop().
    void launch(const QString &program, const QStringList &arguments);

    // Waits up to `seconds` until a desktop-type window of another program
    // is mapped.
    static bool waitForDesktopWindow(int seconds);
    static bool windowManagerRuns();

private:
    bool startLogind();

    QList<std::shared_ptr<QProcess>> m_processes;
    // Stands in for the system bus where logind is needed.
    std::unique_ptr<PrivateBus> m_systemBus;
};

} // namespace lumivale::test
