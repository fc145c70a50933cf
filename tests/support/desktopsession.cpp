#include "desktopsession.h"

#include "xsession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QThread>
#include <gio/gio.h>

namespace lumivale::test {
namespace {

struct Recipe
{
    const char *desktop;
    const char *currentDesktop; // XDG_CURRENT_DESKTOP
    // Window manager first, then the desktop's icon program, if any.
    QList<QStringList> programs;
    bool hasIcons;
    // GSettings keys to set first: schema, key, value.
    QList<QStringList> settings = {};
    // GNOME Shell needs logind on a system bus.
    bool needsLogind = false;
};

const QList<Recipe> &recipes()
{
    static const QList<Recipe> all{
        {"openbox", "", {{QStringLiteral("openbox"), QStringLiteral("--sm-disable")}}, false},
        {"i3",
         "i3",
         {{QStringLiteral("i3"), QStringLiteral("-c"), QStringLiteral("@I3CONFIG@")}},
         false},
        {"xfce",
         "XFCE",
         {{QStringLiteral("xfwm4"), QStringLiteral("--compositor=off")},
          {QStringLiteral("xfdesktop"), QStringLiteral("--disable-wm-check")}},
         true},
        {"mate",
         "MATE",
         {{QStringLiteral("marco"), QStringLiteral("--no-composite")},
          {QStringLiteral("caja"), QStringLiteral("-n"), QStringLiteral("--force-desktop")}},
         true},
        {"cinnamon",
         "X-Cinnamon",
         {{QStringLiteral("muffin"), QStringLiteral("--replace")},
          {QStringLiteral("nemo-desktop")}},
         true,
         // nemo-desktop refuses root (as CI runs) unless told to treat it as
         // anyone.
         {{QStringLiteral("org.nemo.preferences"), QStringLiteral("treat-root-as-normal"),
           QStringLiteral("true")}}},
        {"budgie",
         "Budgie:GNOME",
         // budgie-wm needs a whole Budgie session; openbox with a compositor
         // stacks and blends the same way.
         {{QStringLiteral("openbox"), QStringLiteral("--sm-disable")},
          {QStringLiteral("xcompmgr")},
          {QStringLiteral("org.buddiesofbudgie.budgie-desktop-view")}},
         true,
         {{QStringLiteral("org.buddiesofbudgie.budgie-desktop-view"), QStringLiteral("show"),
           QStringLiteral("true")}}},
        {"budgie-xfwm4",
         "Budgie:GNOME",
         // A window manager that refuses to restack another client's desktop
         // window: the icons come back on top by restarting their program.
         {{QStringLiteral("xfwm4"), QStringLiteral("--compositor=on")},
          {QStringLiteral("org.buddiesofbudgie.budgie-desktop-view")}},
         true,
         {{QStringLiteral("org.buddiesofbudgie.budgie-desktop-view"), QStringLiteral("show"),
           QStringLiteral("true")}}},
        {"gnome",
         "GNOME",
         {{QStringLiteral("gnome-shell"), QStringLiteral("--x11"), QStringLiteral("--replace")}},
         false,
         {{QStringLiteral("org.gnome.shell"), QStringLiteral("enabled-extensions"),
           QStringLiteral("[]")}},
         true},
        {"gnome-icons",
         "GNOME",
         {{QStringLiteral("gnome-shell"), QStringLiteral("--x11"), QStringLiteral("--replace")}},
         true,
         {{QStringLiteral("org.gnome.shell"), QStringLiteral("enabled-extensions"),
           QStringLiteral("['ding@rastersoft.com']")}},
         true},
    };
    return all;
}

const Recipe *recipeFor(const QString &desktop)
{
    for (const Recipe &recipe : recipes()) {
        if (desktop == QLatin1String(recipe.desktop))
            return &recipe;
    }
    return nullptr;
}

bool hasDesktopWindow()
{
    const QString list = XSession::run(
        QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")});
    const qsizetype hash = list.indexOf(u'#');
    if (hash < 0)
        return false;
    for (const QString &id : list.mid(hash + 1).split(u',', Qt::SkipEmptyParts)) {
        const QString type =
            XSession::run(QStringLiteral("xprop"), {QStringLiteral("-id"), id.trimmed(),
                                                    QStringLiteral("_NET_WM_WINDOW_TYPE")});
        if (type.contains(QLatin1String("_NET_WM_WINDOW_TYPE_DESKTOP")))
            return true;
    }
    return false;
}

// The shell's OverviewActive property: "true", "false", or empty while the
// shell does not answer yet.
QString gnomeOverviewActive()
{
    int status = -1;
    const QString answer = XSession::run(
        QStringLiteral("gdbus"),
        {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
         QStringLiteral("org.gnome.Shell"), QStringLiteral("--object-path"),
         QStringLiteral("/org/gnome/Shell"), QStringLiteral("--method"),
         QStringLiteral("org.freedesktop.DBus.Properties.Get"), QStringLiteral("org.gnome.Shell"),
         QStringLiteral("OverviewActive")},
        &status);
    if (status != 0)
        return {};
    return answer.contains(QLatin1String("true")) ? QStringLiteral("true")
                                                  : QStringLiteral("false");
}

// GNOME Shell starts in the overview, which hides the desktop. Escape leaves
// it once the shell has shown it; a loaded machine may take a while to get
// there, so this waits for the overview rather than for a fixed time.
bool leaveGnomeOverview()
{
    const QDeadlineTimer deadline(90000);
    bool seenOpen = false;
    int closedReadings = 0;
    while (!deadline.hasExpired()) {
        const QString active = gnomeOverviewActive();
        if (active == QLatin1String("true")) {
            seenOpen = true;
            closedReadings = 0;
            XSession::run(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QStringLiteral("Escape")});
        } else if (active == QLatin1String("false")) {
            // Closed for good once it was open, or when it stays closed for
            // fifteen seconds (a shell that skips the overview at start).
            if (seenOpen || ++closedReadings >= 60)
                return true;
        }
        QThread::msleep(250);
    }
    return false;
}

} // namespace

DesktopPrograms::~DesktopPrograms()
{
    stop();
}

QString DesktopPrograms::missingProgram(const QString &desktop)
{
    const Recipe *recipe = recipeFor(desktop);
    if (!recipe)
        return desktop;
    for (const QStringList &program : recipe->programs) {
        if (QStandardPaths::findExecutable(program.first()).isEmpty())
            return program.first();
    }
    return {};
}

bool DesktopPrograms::hasIcons(const QString &desktop)
{
    const Recipe *recipe = recipeFor(desktop);
    return recipe && recipe->hasIcons;
}

bool DesktopPrograms::windowManagerRuns()
{
    const QString check =
        XSession::run(QStringLiteral("xprop"),
                      {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    return check.contains(u'#');
}

bool DesktopPrograms::waitForDesktopWindow(int seconds)
{
    const QDeadlineTimer deadline(seconds * 1000);
    while (!deadline.hasExpired()) {
        if (hasDesktopWindow())
            return true;
        QThread::msleep(200);
    }
    return false;
}

bool DesktopPrograms::startLogind()
{
    // A bus of our own stands in for the system bus.
    auto bus = std::make_shared<QProcess>();
    bus->start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    if (!bus->waitForStarted(5000) || !bus->waitForReadyRead(10000))
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus->readLine().trimmed());
    m_processes.prepend(bus);
    launch(QStringLiteral("/usr/bin/python3"),
           {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
            QStringLiteral("--template"), QStringLiteral("logind")});
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        int status = -1;
        XSession::run(QStringLiteral("gdbus"),
                      {QStringLiteral("introspect"), QStringLiteral("--system"),
                       QStringLiteral("--dest"), QStringLiteral("org.freedesktop.login1"),
                       QStringLiteral("--object-path"), QStringLiteral("/org/freedesktop/login1")},
                      &status);
        if (status == 0)
            return true;
        QThread::msleep(200);
    }
    return false;
}

void DesktopPrograms::launch(const QString &program, const QStringList &arguments)
{
    auto process = std::make_shared<QProcess>();
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    m_processes.append(process);
}

bool DesktopPrograms::start(const QString &desktop)
{
    const Recipe *recipe = recipeFor(desktop);
    if (!recipe)
        return false;
    qputenv("XDG_CURRENT_DESKTOP", recipe->currentDesktop);
    // The desktops' own files (icons on the desktop, settings) go to the
    // isolated home the test runs in.
    const QDir desktopFolder(QDir::home().filePath(QStringLiteral("Desktop")));
    desktopFolder.mkpath(QStringLiteral("."));
    QFile note(desktopFolder.filePath(QStringLiteral("notes.txt")));
    if (note.open(QIODevice::WriteOnly))
        note.write("An icon on the desktop.\n");
    note.close();
    const QString i3Config = QDir::home().filePath(QStringLiteral("i3.config"));
    QFile config(i3Config);
    if (config.open(QIODevice::WriteOnly))
        config.write("font pango:DejaVu Sans 8\n");
    config.close();

    if (recipe->needsLogind && !startLogind())
        return false;
    for (const QStringList &setting : recipe->settings)
        XSession::run(QStringLiteral("gsettings"), QStringList{QStringLiteral("set")} + setting);

    for (qsizetype i = 0; i < recipe->programs.size(); ++i) {
        QStringList arguments = recipe->programs[i].mid(1);
        arguments.replaceInStrings(QStringLiteral("@I3CONFIG@"), i3Config);
        launch(recipe->programs[i].first(), arguments);
        if (i == 0) {
            // Generous: a loaded machine is slow to start a window manager.
            const QDeadlineTimer deadline(60000);
            while (!windowManagerRuns() && !deadline.hasExpired())
                QThread::msleep(50);
            if (!windowManagerRuns()) {
                qWarning("%s did not take over the display",
                         qPrintable(recipe->programs[i].first()));
                return false;
            }
        }
    }
    if (recipe->needsLogind && !leaveGnomeOverview()) {
        qWarning("GNOME Shell did not leave its overview");
        return false;
    }
    if (recipe->hasIcons && !waitForDesktopWindow(90)) {
        qWarning("the %s desktop window did not appear", recipe->desktop);
        return false;
    }
    return true;
}

void DesktopPrograms::stop()
{
    // The stand-in system bus goes too: GLib must not take its end for ours
    // (see ~XSession).
    if (qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")) {
        if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_object_unref(bus);
        }
    }
    // The desktop program first, the window manager last.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        QProcess &process = **it;
        if (process.state() == QProcess::NotRunning)
            continue;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished();
    }
    m_processes.clear();
}

} // namespace lumivale::test
