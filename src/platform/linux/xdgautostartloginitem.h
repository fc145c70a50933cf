#pragma once

#include "platform/loginitem.h"

#include <QString>

namespace lumivale {

// Start at login through an XDG autostart entry, "lumivale.desktop" in the
// user's autostart folder ($XDG_CONFIG_HOME/autostart). The entry runs this
// executable with "--login-item", so the launch can tell it came from login.
//
// `status()` is Enabled exactly when the entry is a readable desktop entry of
// type Application, is not switched off (Hidden=true, or
// X-GNOME-Autostart-enabled=false, which GNOME honours), and its Exec line runs
// this very executable. Any other state, including no entry, someone else's
// entry under our file name, or an entry of ours left behind by a copy of the
// application that has since moved, is NotRegistered, so registering again
// puts it right. RequiresApproval and NotFound never occur here: nothing on
// Linux approves autostart entries.
//
// Registering writes the whole entry afresh and atomically (an earlier or
// disabled entry under the name is replaced, and a failed write leaves the old
// file as it was); unregistering removes it, and succeeds when there is none.
// Failures come back as an Error of domain "LoginItem" naming the path.
//
// Main thread only; the calls do small, blocking file operations.
class XdgAutostartLoginItem : public LoginItemService
{
public:
    static inline const QString kErrorDomain = QStringLiteral("LoginItem");
    enum ErrorCode {
        CannotCreateFolder = 1,
        CannotWriteEntry = 2,
        CannotRemoveEntry = 3,
    };

    static inline const QString kEntryFileName = QStringLiteral("lumivale.desktop");
    // The argument the entry adds, which marks a launch at login.
    static inline const QString kLoginItemArgument = QStringLiteral("--login-item");
    // Written into the entry so that people and tools can tell it is ours.
    static inline const QString kMarkerKey = QStringLiteral("X-Lumivale-LoginItem");

    // Empty arguments stand for the defaults: this process's executable
    // (QCoreApplication::applicationFilePath(), so an application object must
    // exist) and the user's autostart folder.
    explicit XdgAutostartLoginItem(const QString &executablePath = QString(),
                                   const QString &autostartFolder = QString());
    ~XdgAutostartLoginItem() override;

    Status status() const override;
    Result<> registerLoginItem() override;
    Result<> unregisterLoginItem() override;

    QString entryPath() const;
    QString executablePath() const { return m_executablePath; }

    // The Exec value that runs `program` with `arguments`, each argument
    // quoted the way desktop entries require when it needs it.
    static QString execLine(const QString &program, const QStringList &arguments);

private:
    QString m_executablePath;
    QString m_autostartFolder;
};

} // namespace lumivale
