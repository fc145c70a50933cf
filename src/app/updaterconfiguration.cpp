#include "updaterconfiguration.h"

#include "app/updater.h"
#include "platform/appconfig.h"
#include "platform/error.h"
#include "platform/userprompts.h"

#include <QCoreApplication>
#include <QUrl>

namespace lumivale {

UpdaterConfiguration::UpdaterConfiguration(UserPrompts &prompts)
    : m_prompts(prompts)
{}

UpdaterConfiguration::~UpdaterConfiguration() = default;

bool UpdaterConfiguration::isConfigured(const std::optional<QString> &publicKey,
                                        const QString &feedURL)
{
    if (!publicKey)
        return false;
    const QString key = publicKey->trimmed();
    if (key.isEmpty() || key.contains(QStringLiteral("$(")))
        return false;
    // Without an appcast there is nothing to check against.
    return !feedURL.trimmed().isEmpty();
}

bool UpdaterConfiguration::isConfigured() const
{
    return isConfigured(infoDictionaryValue(InfoKey::SUPublicEDKey),
                        infoDictionaryValue(InfoKey::SUFeedURL));
}

UpdaterController &UpdaterConfiguration::ensureController()
{
    if (!m_controller) {
        m_controller = std::make_unique<UpdaterController>(
            QUrl(infoDictionaryValue(InfoKey::SUFeedURL).trimmed()),
            infoDictionaryValue(InfoKey::SUPublicEDKey).trimmed(),
            QCoreApplication::applicationVersion(), m_prompts);
    }
    return *m_controller;
}

void UpdaterConfiguration::startIfConfigured()
{
    if (!isConfigured()) {
        logLine(kDisabledLogLine);
        return;
    }
    ensureController().startUpdater();
}

QCoro::Task<> UpdaterConfiguration::checkForUpdates()
{
    if (!isConfigured()) {
        m_prompts.activateApplication();
        m_prompts.presentAlert(
            QStringLiteral("Updates are not configured"),
            QStringLiteral("This build does not include a Sparkle public key. Generate "
                           "a key and build with SPARKLE_PUBLIC_ED_KEY to enable updates."));
        co_return;
    }
    co_await ensureController().checkForUpdates();
}

} // namespace lumivale
