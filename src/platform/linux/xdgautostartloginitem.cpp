#include "xdgautostartloginitem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <glib.h>
#include <memory>

namespace lumivale {
namespace {

struct KeyFileUnref
{
    void operator()(GKeyFile *keyFile) const { g_key_file_unref(keyFile); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileUnref>;

struct GFree
{
    void operator()(void *memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct StrvFree
{
    void operator()(gchar **strings) const { g_strfreev(strings); }
};
using StrvPtr = std::unique_ptr<gchar *, StrvFree>;

const QString kDesktopGroup = QStringLiteral(G_KEY_FILE_DESKTOP_GROUP);

QString defaultAutostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

bool needsQuoting(const QString &argument)
{
    // The characters that desktop entries reserve in Exec.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (argument.isEmpty())
        return true;
    for (QChar c : argument) {
        if (reserved.contains(c))
            return true;
    }
    return false;
}

QString quotedArgument(const QString &argument)
{
    QString text = argument;
    // A lone percent sign would start a field code.
    text.replace(u'%', QStringLiteral("%%"));
    if (!needsQuoting(argument))
        return text;
    QString quoted = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// A string value of the desktop group, with the key file's escapes undone.
std::optional<QString> stringValue(GKeyFile *keyFile, const char *key)
{
    const GCharPtr value(g_key_file_get_string(keyFile, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value.get());
}

// The value of a boolean key, or none when it is missing or not a boolean.
std::optional<bool> booleanValue(GKeyFile *keyFile, const char *key)
{
    GError *error = nullptr;
    const gboolean value = g_key_file_get_boolean(keyFile, G_KEY_FILE_DESKTOP_GROUP, key, &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return value != FALSE;
}

// The program an Exec line runs, as a path; none when the line cannot be
// split into arguments.
std::optional<QString> programOf(const QString &exec)
{
    gint argc = 0;
    gchar **argv = nullptr;
    if (!g_shell_parse_argv(utf8(exec).constData(), &argc, &argv, nullptr))
        return std::nullopt;
    const StrvPtr arguments(argv);
    QString program = QString::fromUtf8(arguments.get()[0]);
    program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!program.contains(u'/')) {
        // A bare name is looked up in PATH, as the session would.
        const GCharPtr found(g_find_program_in_path(utf8(program).constData()));
        if (!found)
            return std::nullopt;
        program = QString::fromUtf8(found.get());
    }
    return program;
}

bool isSameFile(const QString &first, const QString &second)
{
    const auto identity = [](const QString &path) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    };
    return identity(first) == identity(second);
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(const QString &executablePath,
                                             const QString &autostartFolder)
    : m_executablePath(executablePath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                : executablePath)
    , m_autostartFolder(autostartFolder.isEmpty() ? defaultAutostartFolder() : autostartFolder)
{}

XdgAutostartLoginItem::~XdgAutostartLoginItem() = default;

QString XdgAutostartLoginItem::entryPath() const
{
    return m_autostartFolder + u'/' + kEntryFileName;
}

QString XdgAutostartLoginItem::execLine(const QString &program, const QStringList &arguments)
{
    QStringList parts{quotedArgument(program)};
    for (const QString &argument : arguments)
        parts.append(quotedArgument(argument));
    return parts.join(u' ');
}

LoginItemService::Status XdgAutostartLoginItem::status() const
{
    const KeyFilePtr keyFile(g_key_file_new());
    if (!g_key_file_load_from_file(keyFile.get(), QFile::encodeName(entryPath()).constData(),
                                   G_KEY_FILE_NONE, nullptr))
        return Status::NotRegistered;
    GKeyFile *entry = keyFile.get();
    if (stringValue(entry, G_KEY_FILE_DESKTOP_KEY_TYPE) !=
        QStringLiteral(G_KEY_FILE_DESKTOP_TYPE_APPLICATION))
        return Status::NotRegistered;
    if (booleanValue(entry, G_KEY_FILE_DESKTOP_KEY_HIDDEN) == true)
        return Status::NotRegistered;
    if (booleanValue(entry, "X-GNOME-Autostart-enabled") == false)
        return Status::NotRegistered;
    // Ours, and still pointing at this executable rather than at a place the
    // application has been moved away from.
    const std::optional<QString> exec = stringValue(entry, G_KEY_FILE_DESKTOP_KEY_EXEC);
    const std::optional<QString> program = exec ? programOf(*exec) : std::nullopt;
    if (!program || !isSameFile(*program, m_executablePath))
        return Status::NotRegistered;
    return Status::Enabled;
}

Result<> XdgAutostartLoginItem::registerLoginItem()
{
    if (!QDir().mkpath(m_autostartFolder)) {
        return failure(
            kErrorDomain, CannotCreateFolder,
            QStringLiteral("Cannot create the autostart folder \"%1\".").arg(m_autostartFolder));
    }

    const KeyFilePtr keyFile(g_key_file_new());
    GKeyFile *entry = keyFile.get();
    const auto set = [entry](const char *key, const QString &value) {
        g_key_file_set_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, utf8(value).constData());
    };
    set(G_KEY_FILE_DESKTOP_KEY_TYPE, QStringLiteral(G_KEY_FILE_DESKTOP_TYPE_APPLICATION));
    set(G_KEY_FILE_DESKTOP_KEY_NAME, QStringLiteral("Lumivale"));
    set(G_KEY_FILE_DESKTOP_KEY_COMMENT,
        QStringLiteral("Play looping videos as your desktop wallpaper"));
    set(G_KEY_FILE_DESKTOP_KEY_EXEC, execLine(m_executablePath, {kLoginItemArgument}));
    set(G_KEY_FILE_DESKTOP_KEY_ICON, QStringLiteral("lumivale"));
    g_key_file_set_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
    g_key_file_set_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, "X-GNOME-Autostart-enabled", TRUE);
    g_key_file_set_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, utf8(kMarkerKey).constData(), TRUE);
    gsize length = 0;
    const GCharPtr data(g_key_file_to_data(entry, &length, nullptr));

    // Written aside and renamed over the old entry, so the session never
    // finds half an entry and a failure keeps the old one.
    const QString path = entryPath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(data.get(), qint64(length)) != qint64(length) || !file.commit()) {
        return failure(kErrorDomain, CannotWriteEntry,
                       QStringLiteral("Cannot write the autostart entry \"%1\": %2")
                           .arg(path, file.errorString()));
    }
    return {};
}

Result<> XdgAutostartLoginItem::unregisterLoginItem()
{
    const QString path = entryPath();
    QFile file(path);
    if (file.remove())
        return {};
    // Nothing to remove is what was asked for.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    return failure(kErrorDomain, CannotRemoveEntry,
                   QStringLiteral("Cannot remove the autostart entry \"%1\": %2")
                       .arg(path, file.errorString()));
}

} // namespace lumivale
