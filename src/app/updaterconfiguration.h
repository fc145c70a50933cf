#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumivale {

class UpdaterController;
class UserPrompts;

// Whether this build can update itself, and the updater when it can: updates
// are configured only when the build carries a real signing key and a feed
// address. Without them the updater is never created; the launch leaves one
// line (kDisabledLogLine) and "Check for Updates..." explains why in an alert.
//
// Main thread only. The prompts are borrowed and must outlive the object; the
// updater, created on first use, is owned here and lives as long as it.
class UpdaterConfiguration
{
public:
    static inline const QString kDisabledLogLine =
        QStringLiteral("Sparkle updater is disabled because SUPublicEDKey is not configured.");

    explicit UpdaterConfiguration(UserPrompts &prompts);
    ~UpdaterConfiguration();

    // The rule for the key's value: a non-blank text without "$(" (an
    // unexpanded build setting), and a non-blank feed address.
    static bool isConfigured(const std::optional<QString> &publicKey, const QString &feedURL);
    // The rule applied to this build's values.
    bool isConfigured() const;

    // At launch: starts the updater, or logs why not.
    void startIfConfigured();
    // The menu's check, or the alert that updates are not configured.
    QCoro::Task<> checkForUpdates();

    UpdaterController *controller() const { return m_controller.get(); }

private:
    UpdaterController &ensureController();

    UserPrompts &m_prompts;
    std::unique_ptr<UpdaterController> m_controller;
};

} // namespace lumivale
