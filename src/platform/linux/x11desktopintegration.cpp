#include "x11desktopintegration.h"

#include "platform/userdefaults.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <csignal>
#include <gio/gio.h>
#include <unistd.h>

namespace lumivale {
namespace {

constexpr char kNemoSchema[] = "org.nemo.desktop";
constexpr char kNemoHandlersKey[] = "ignored-desktop-handlers";
constexpr char kMateSchema[] = "org.mate.background";
constexpr char kMateIconsKey[] = "show-desktop-icons";
constexpr char kXfdesktop[] = "xfdesktop";
constexpr char kBudgieDesktopView[] = "org.buddiesofbudgie.budgie-desktop-view";
// The desktop-icons extensions GNOME Shell may run.
constexpr const char *kGnomeIconExtensions[] = {"ding@rastersoft.com", "desktop-icons@csoriano"};
constexpr int kProgramTimeoutMs = 3000;

void logProblem(const QString &description)
{
    QTextStream(stdout) << "desktop integration: " << description << Qt::endl;
}

// GSettings aborts the process when asked for a schema that is not
// installed, so every use looks it up first.
GSettings *openSettings(const char *schema)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *found =
        source ? g_settings_schema_source_lookup(source, schema, TRUE) : nullptr;
    if (!found)
        return nullptr;
    g_settings_schema_unref(found);
    return g_settings_new(schema);
}

// Processes of this user on this display whose command name is `name` (as
// the kernel keeps it: at most 15 characters). One that has exited but is not
// reaped yet has no environment left, and so is not among them.
QList<pid_t> processesNamed(const QByteArray &name)
{
    QList<pid_t> found;
    const QByteArray comm = name.left(15);
    const QByteArray display = "DISPLAY=" + qgetenv("DISPLAY");
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile file(proc.filePath(entry + QStringLiteral("/comm")));
        if (!file.open(QIODevice::ReadOnly) || file.readAll().trimmed() != comm)
            continue;
        if (QFileInfo(proc.filePath(entry)).ownerId() != ::getuid())
            continue;
        // Another session of the same user has desktop programs of its own.
        QFile environment(proc.filePath(entry + QStringLiteral("/environ")));
        if (environment.open(QIODevice::ReadOnly) &&
            environment.readAll().split('\0').contains(display))
            found.append(pid);
    }
    return found;
}

// Waits, at most kProgramTimeoutMs, until no `program` of this display runs
// and nobody owns its application ID (the binary's name) on the session bus.
// A GApplication started while its ID is still owned hands over and exits.
bool waitUntilGone(const QByteArray &program)
{
    const QDeadlineTimer deadline(kProgramTimeoutMs);
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    const QString applicationID = QString::fromLatin1(program);
    while (!processesNamed(program).isEmpty() ||
           (bus && bus->isServiceRegistered(applicationID).value())) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(kProgramTimeoutMs)) {
        process.kill();
        process.waitForFinished(kProgramTimeoutMs);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

DesktopIntegration X11DesktopIntegration::detect()
{
    QString overrideName = qEnvironmentVariable("LUMIVALE_DESKTOP_INTEGRATION");
    UserDefaults &defaults = UserDefaults::standard();
    if (overrideName.isEmpty())
        overrideName = defaults.string(kIntegrationKey).value_or(QString());
    const bool takeOver =
        qEnvironmentVariable("LUMIVALE_TAKE_OVER_DESKTOP") == QLatin1String("1") ||
        defaults.boolean(kTakeOverKey).value_or(false);
    const DesktopSession session{qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                 qEnvironmentVariable("XDG_SESSION_TYPE"),
                                 X11DesktopStacking::windowManagerName()};
    return chooseDesktopIntegration(session, overrideName, takeOver);
}

X11DesktopIntegration::X11DesktopIntegration(const DesktopIntegration &integration, QObject *parent)
    : QObject(parent)
    , m_integration(integration)
    , m_stacking(integration.window())
{
    connect(&m_stacking, &X11DesktopStacking::restackRefused, this,
            &X11DesktopIntegration::bringIconsBackOnTop);
    // muffin paints desktop-type windows in the order it first managed them
    // and ignores restacks among them until it manages some other window;
    // right after login nothing else may be open, and the video would cover
    // nemo's icons.
    if (integration.kind == DesktopIntegration::Kind::Cinnamon)
        connect(&m_stacking, &X11DesktopStacking::restacked, &m_stacking,
                &X11DesktopStacking::nudgeCompositorOrder);
}

X11DesktopIntegration::~X11DesktopIntegration() = default;

void X11DesktopIntegration::windowShown(std::uint32_t window)
{
    engage();
    m_stacking.addWindow(window);
    // muffin may stack a new window right and still paint it on top.
    if (m_integration.kind == DesktopIntegration::Kind::Cinnamon)
        m_stacking.nudgeCompositorOrder();
}

void X11DesktopIntegration::windowGone(std::uint32_t window)
{
    m_stacking.removeWindow(window);
}

void X11DesktopIntegration::engage()
{
    if (m_engaged)
        return;
    m_engaged = true;
    using Kind = DesktopIntegration::Kind;

    if (m_integration.kind == Kind::Cinnamon) {
        if (GSettings *settings = openSettings(kNemoSchema)) {
            gchar **handlers = g_settings_get_strv(settings, kNemoHandlersKey);
            QList<const gchar *> list;
            bool listed = false;
            for (gchar **each = handlers; *each; ++each) {
                list.append(*each);
                listed = listed || qstrcmp(*each, kNemoHandlerName) == 0;
            }
            if (!listed) {
                list.append(kNemoHandlerName);
                list.append(nullptr);
                m_addedNemoHandler = g_settings_set_strv(settings, kNemoHandlersKey, list.data());
                g_settings_sync();
            }
            g_strfreev(handlers);
            g_object_unref(settings);
        }
    }

    if (!m_integration.hidesDesktop())
        return;
    if (m_integration.kind == Kind::Mate) {
        if (GSettings *settings = openSettings(kMateSchema)) {
            if (g_settings_get_boolean(settings, kMateIconsKey)) {
                m_hidMateDesktop = g_settings_set_boolean(settings, kMateIconsKey, FALSE);
                g_settings_sync();
            }
            g_object_unref(settings);
        }
    } else if (m_integration.kind == Kind::Xfce && !processesNamed(kXfdesktop).isEmpty()) {
        m_quitXfdesktop = runQuietly(QString::fromLatin1(kXfdesktop), {QStringLiteral("--quit")});
        if (!m_quitXfdesktop)
            logProblem(QStringLiteral("xfdesktop did not quit"));
    }
}

void X11DesktopIntegration::restoreDesktop()
{
    m_engaged = false;
    if (std::exchange(m_addedNemoHandler, false)) {
        if (GSettings *settings = openSettings(kNemoSchema)) {
            gchar **handlers = g_settings_get_strv(settings, kNemoHandlersKey);
            QList<const gchar *> kept;
            for (gchar **each = handlers; *each; ++each) {
                if (qstrcmp(*each, kNemoHandlerName) != 0)
                    kept.append(*each);
            }
            kept.append(nullptr);
            g_settings_set_strv(settings, kNemoHandlersKey, kept.data());
            g_settings_sync();
            g_strfreev(handlers);
            g_object_unref(settings);
        }
    }
    if (std::exchange(m_hidMateDesktop, false)) {
        if (GSettings *settings = openSettings(kMateSchema)) {
            g_settings_set_boolean(settings, kMateIconsKey, TRUE);
            g_settings_sync();
            g_object_unref(settings);
        }
    }
    if (std::exchange(m_quitXfdesktop, false) &&
        !QProcess::startDetached(QString::fromLatin1(kXfdesktop), {}))
        logProblem(QStringLiteral("cannot start xfdesktop again"));
}

void X11DesktopIntegration::bringIconsBackOnTop()
{
    using Kind = DesktopIntegration::Kind;
    if (m_integration.kind == Kind::Gnome) {
        // A desktop window mapped after ours lies above it in the desktop
        // layer; the extension maps its window again when it is re-enabled.
        // The shell's own interface: the bus name org.gnome.Shell.Extensions
        // is the Extensions application, started on demand.
        QDBusInterface shell(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                             QStringLiteral("org.gnome.Shell.Extensions"));
        shell.setTimeout(kProgramTimeoutMs);
        for (const char *uuid : kGnomeIconExtensions) {
            const QDBusReply<QVariantMap> info =
                shell.call(QStringLiteral("GetExtensionInfo"), QString::fromLatin1(uuid));
            constexpr double kEnabled = 1;
            if (!info.isValid() ||
                info.value().value(QStringLiteral("state")).toDouble() != kEnabled)
                continue;
            logProblem(QStringLiteral("the window manager keeps the wallpaper above the desktop "
                                      "icons; turning %1 off and on to bring them back on top")
                           .arg(QString::fromLatin1(uuid)));
            shell.call(QStringLiteral("DisableExtension"), QString::fromLatin1(uuid));
            shell.call(QStringLiteral("EnableExtension"), QString::fromLatin1(uuid));
        }
    } else if (m_integration.kind == Kind::Budgie) {
        const QList<pid_t> running = processesNamed(kBudgieDesktopView);
        if (running.isEmpty())
            return;
        logProblem(QStringLiteral("the window manager keeps the wallpaper above the desktop icons; "
                                  "restarting budgie-desktop-view to bring them back on top"));
        for (pid_t pid : running)
            ::kill(pid, SIGTERM);
        if (!waitUntilGone(kBudgieDesktopView))
            logProblem(QStringLiteral("budgie-desktop-view did not quit"));
        else if (!QProcess::startDetached(QString::fromLatin1(kBudgieDesktopView), {}))
            logProblem(QStringLiteral("cannot start budgie-desktop-view again"));
    }
}

} // namespace lumivale
