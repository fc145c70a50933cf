#include "updater.h"

#include "platform/userprompts.h"
#include "updatedownload.h"

#include <QPointer>

namespace lumivale {
namespace {
const QString kErrorTitle = QStringLiteral("Update Error!");
} // namespace

UpdaterController::UpdaterController(QUrl feedURL, QString publicEDKey, QString currentVersion,
                                     UserPrompts &prompts, QNetworkAccessManager *network,
                                     QObject *parent)
    : QObject(parent)
    , m_feedURL(std::move(feedURL))
    , m_currentVersion(std::move(currentVersion))
    , m_prompts(prompts)
    , m_downloader(
          std::make_unique<UpdateDownloader>(std::move(publicEDKey), m_currentVersion, network))
{}

UpdaterController::~UpdaterController()
{
    // A check waiting on the network resumes inside the downloader's
    // destruction, sees that the controller is going, and ends quietly.
    m_isBeingDestroyed = true;
    m_downloader.reset();
}

void UpdaterController::setTransferTimeout(int milliseconds)
{
    m_downloader->setTransferTimeout(milliseconds);
}

QString UpdaterController::downloadFolder() const
{
    return m_downloader->downloadFolder();
}

void UpdaterController::setDownloadFolderOverride(const QString &folder)
{
    m_downloader->setDownloadFolderOverride(folder);
}

void UpdaterController::startUpdater()
{
    m_isStarted = true;
}

void UpdaterController::presentError(const Error &error)
{
    m_prompts.activateApplication();
    m_prompts.presentAlert(kErrorTitle, error.description());
}

QCoro::Task<> UpdaterController::checkForUpdates()
{
    if (m_isChecking)
        co_return;
    m_isChecking = true;
    QPointer<UpdaterController> self(this);

    const Result<std::variant<AppcastItem, UpToDate>> found = co_await findUpdate();
    if (!self || m_isBeingDestroyed)
        co_return;
    if (!found) {
        presentError(found.error());
    } else if (std::holds_alternative<UpToDate>(*found)) {
        m_prompts.activateApplication();
        m_prompts.presentAlert(
            QStringLiteral("You're up to date!"),
            QStringLiteral("Lumivale %1 is currently the newest version available.")
                .arg(m_currentVersion));
    } else {
        const AppcastItem &item = std::get<AppcastItem>(*found);
        m_prompts.activateApplication();
        const bool download = m_prompts.askQuestion(
            QStringLiteral("A new version of Lumivale is available!"),
            QStringLiteral("Lumivale %1 is now available\u2014you have %2. Would you like to "
                           "download it now?")
                .arg(item.displayVersion(), m_currentVersion),
            QStringLiteral("Download"), QStringLiteral("Later"));
        if (download) {
            const Result<QString> downloaded = co_await downloadAndVerify(item);
            if (!self || m_isBeingDestroyed)
                co_return;
            if (!downloaded)
                presentError(downloaded.error());
            else
                m_prompts.revealFile(*downloaded);
        }
    }
    m_isChecking = false;
}

QCoro::Task<Result<std::variant<AppcastItem, UpToDate>>> UpdaterController::findUpdate()
{
    using namespace updateerror;
    const QUrl feedURL = m_feedURL;
    if (!feedURL.isValid() || feedURL.host().isEmpty() ||
        (feedURL.scheme() != u"https" && feedURL.scheme() != u"http")) {
        co_return make(
            InvalidFeedURL,
            QStringLiteral("The update feed address \"%1\" is not an http or https address.")
                .arg(feedURL.toString()));
    }
    if (!appcast::isAllowedURL(feedURL))
        co_return failure(UpdateDownloader::insecureURLError(feedURL));

    QPointer<UpdaterController> self(this);
    const Result<QByteArray> feed = co_await m_downloader->fetchFeed(feedURL);
    if (!self || m_isBeingDestroyed)
        co_return make(NetworkFailure, QStringLiteral("The update check was cancelled."));
    co_return feed.and_then([&](const QByteArray &body) { return appcast::parse(body, feedURL); })
        .transform([&](const QList<AppcastItem> &items) {
            return appcast::newestUpdate(items, m_currentVersion);
        });
}

QCoro::Task<Result<QString>> UpdaterController::downloadAndVerify(AppcastItem item)
{
    co_return co_await m_downloader->downloadAndVerify(std::move(item));
}

} // namespace lumivale
