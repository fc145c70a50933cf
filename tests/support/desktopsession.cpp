#include "desktopsession.h"

#include "xsession.h"

#include <QDir>
#include <QStandardPaths>
#include <gio/gio.h>

using namespace Qt::StringLiterals;

namespace lumivale::test {
namespace {

struct Recipe
{
    const char *desktop;
    const char *currentDesktop; // XDG_CURRENT_DESKTOP
    // Command lines: the window manager first, then the desktop's icon program, if any.
    QStringList programs;
    bool hasIcons;
    // "schema key value" for gsettings, set first.
    QStringList settings = {};
    // GNOME Shell needs logind on a system bus.
    bool needsLogind = false;
};

const QList<Recipe> &recipes()
{
    static const QList<Recipe> all{
        {"openbox", "", {u"openbox --sm-disable"_s}, false},
        {"i3", "i3", {u"i3 -c @I3CONFIG@"_s}, false},
        {"xfce", "XFCE", {u"xfwm4 --compositor=off"_s, u"xfdesktop --disable-wm-check"_s}, true},
        {"mate", "MATE", {u"marco --no-composite"_s, u"caja -n --force-desktop"_s}, true},
        // nemo-desktop refuses root (as CI runs) unless told to treat it as anyone.
        {"cinnamon",
         "X-Cinnamon",
         {u"muffin --replace"_s, u"nemo-desktop"_s},
         true,
         {u"org.nemo.preferences treat-root-as-normal true"_s}},
        // budgie-wm needs a whole Budgie session; openbox with a compositor
        // stacks and blends the same way.
        {"budgie",
         "Budgie:GNOME",
         {u"openbox --sm-disable"_s, u"xcompmgr"_s, u"org.buddiesofbudgie.budgie-desktop-view"_s},
         true,
         {u"org.buddiesofbudgie.budgie-desktop-view show true"_s}},
        // A window manager that refuses to restack another client's desktop
        // window: the icons come back on top by restarting their program.
        {"budgie-xfwm4",
         "Budgie:GNOME",
         {u"xfwm4 --compositor=on"_s, u"org.buddiesofbudgie.budgie-desktop-view"_s},
         true,
         {u"org.buddiesofbudgie.budgie-desktop-view show true"_s}},
        {"gnome",
         "GNOME",
         {u"gnome-shell --x11 --replace"_s},
         false,
         {u"org.gnome.shell enabled-extensions []"_s},
         true},
        {"gnome-icons",
         "GNOME",
         {u"gnome-shell --x11 --replace"_s},
         true,
         {u"org.gnome.shell enabled-extensions ['ding@rastersoft.com']"_s},
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

QStringList words(const QString &commandLine)
{
    return commandLine.split(u' ', Qt::SkipEmptyParts);
}

bool hasDesktopWindow()
{
    const QString list = XSession::run(u"xprop"_s, words(u"-root _NET_CLIENT_LIST"_s));
    const qsizetype hash = list.indexOf(u'#');
    if (hash < 0)
        return false;
    for (const QString &id : list.mid(hash + 1).split(u',', Qt::SkipEmptyParts)) {
        const QString type =
            XSession::run(u"xprop"_s, {u"-id"_s, id.trimmed(), u"_NET_WM_WINDOW_TYPE"_s});
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
        u"gdbus"_s,
        words(u"call --session --dest org.gnome.Shell --object-path /org/gnome/Shell --method "
              "org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive"_s),
        &status);
    if (status != 0)
        return {};
    return answer.contains(QLatin1String("true")) ? u"true"_s : u"false"_s;
}

// GNOME Shell starts in the overview, which hides the desktop. Escape leaves
// it once the shell has shown it; a loaded machine may take a while to get
// there, so this waits for the overview rather than for a fixed time.
bool leaveGnomeOverview()
{
    bool seenOpen = false;
    int closedReadings = 0;
    return blockUntil(
        [&] {
            const QString active = gnomeOverviewActive();
            if (active == QLatin1String("true")) {
                seenOpen = true;
                closedReadings = 0;
                XSession::run(u"xdotool"_s, {u"key"_s, u"Escape"_s});
            }
            // Closed for good once it was open, or when it stays closed for
            // fifteen seconds (a shell that skips the overview at start).
            return active == QLatin1String("false") && (seenOpen || ++closedReadings >= 60);
        },
        90000, 250);
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(contents);
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
    for (const QString &program : recipe->programs) {
        if (QStandardPaths::findExecutable(words(program).first()).isEmpty())
            return words(program).first();
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
    return XSession::run(u"xprop"_s, words(u"-root _NET_SUPPORTING_WM_CHECK"_s)).contains(u'#');
}

bool DesktopPrograms::waitForDesktopWindow(int seconds)
{
    return blockUntil(hasDesktopWindow, seconds * 1000);
}

bool DesktopPrograms::startLogind()
{
    // A bus of our own stands in for the system bus.
    m_systemBus = std::make_unique<PrivateBus>();
    if (m_systemBus->address().isEmpty())
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemBus->address().toUtf8());
    launch(u"/usr/bin/python3"_s, words(u"-m dbusmock --system --template logind"_s));
    return blockUntil(
        [] {
            int status = -1;
            XSession::run(u"gdbus"_s,
                          words(u"introspect --system --dest org.freedesktop.login1 "
                                "--object-path /org/freedesktop/login1"_s),
                          &status);
            return status == 0;
        },
        30000);
}

void DesktopPrograms::launch(const QString &program, const QStringList &arguments)
{
    auto process = std::make_shared<QProcess>();
    endWithThisProcess(*process);
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
    QDir::home().mkpath(u"Desktop"_s);
    writeFile(QDir::home().filePath(u"Desktop/notes.txt"_s), "An icon on the desktop.\n");
    const QString i3Config = QDir::home().filePath(u"i3.config"_s);
    writeFile(i3Config, "font pango:DejaVu Sans 8\n");

    if (recipe->needsLogind && !startLogind())
        return false;
    for (const QString &setting : recipe->settings)
        XSession::run(u"gsettings"_s, QStringList{u"set"_s} + words(setting));

    for (const QString &program : recipe->programs) {
        QStringList arguments = words(program);
        arguments.replaceInStrings(u"@I3CONFIG@"_s, i3Config);
        launch(arguments.takeFirst(), arguments);
        // Generous: a loaded machine is slow to start a window manager.
        if (&program == &recipe->programs.first() && !blockUntil(windowManagerRuns, 60000, 50)) {
            qWarning("%s did not take over the display", qPrintable(program));
            return false;
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
    if (m_systemBus) {
        if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_object_unref(bus);
        }
    }
    // The desktop program first, the window manager last.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        endProcess(**it);
    m_processes.clear();
    m_systemBus.reset();
}

} // namespace lumivale::test
