#include "likedwallpaperstore.h"

#include "deviceid.h"
#include "httpclient.h"
#include "platform/appconfig.h"
#include "platform/userdefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <algorithm>
#include <qcoro/qcoronetworkreply.h>

namespace lumivale {

QByteArray LikeRequest::toJson() const
{
    const QJsonObject object{
        {QStringLiteral("wallpaperId"), wallpaperId},
        {QStringLiteral("deviceId"), deviceId},
        {QStringLiteral("liked"), liked},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

LikedWallpaperStore::LikedWallpaperStore(UserDefaults &defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_endpoint(likesEndpoint(infoDictionaryValue(InfoKey::ManifestURL)))
{
    const QStringList stored = defaults.stringArray(kLikedIDsKey).value_or(QStringList());
    m_ids = QSet<QString>(stored.begin(), stored.end());
}

void LikedWallpaperStore::toggle(const Wallpaper &wallpaper)
{
    const bool wasLiked = m_ids.contains(wallpaper.id());
    QSet<QString> ids = m_ids;
    if (wasLiked)
        ids.remove(wallpaper.id());
    else
        ids.insert(wallpaper.id());
    setIDs(std::move(ids));
    const quint64 toggle = ++m_toggleCount;
    m_latestToggles.insert(wallpaper.id(), toggle);
    report(wallpaper.id(), !wasLiked, toggle);
}

void LikedWallpaperStore::mergeServerLikes(const QList<Wallpaper> &wallpapers)
{
    QSet<QString> liked;
    for (const Wallpaper &wallpaper : wallpapers) {
        if (wallpaper.isLiked())
            liked.insert(wallpaper.id());
    }
    if (liked.isEmpty())
        return;
    setIDs(m_ids | liked);
}

std::optional<QUrl> LikedWallpaperStore::likesEndpoint(const QString &manifestURLText)
{
    const QUrl manifestURL(manifestURLText, QUrl::StrictMode);
    if (manifestURLText.isEmpty() || !manifestURL.isValid() || manifestURL.scheme().isEmpty() ||
        manifestURL.host().isEmpty()) {
        return std::nullopt;
    }
    QUrl endpoint;
    endpoint.setScheme(manifestURL.scheme());
    endpoint.setHost(manifestURL.host());
    endpoint.setPort(manifestURL.port());
    endpoint.setPath(QStringLiteral("/likes"));
    return endpoint;
}

QNetworkRequest LikedWallpaperStore::makeReportRequest(const QUrl &endpoint, int timeoutMs)
{
    QNetworkRequest request(endpoint);
    request.setTransferTimeout(timeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

void LikedWallpaperStore::setIDs(QSet<QString> ids)
{
    m_ids = std::move(ids);
    QStringList sorted(m_ids.begin(), m_ids.end());
    std::sort(sorted.begin(), sorted.end());
    m_defaults.setStringArray(kLikedIDsKey, sorted);
    Q_EMIT idsChanged();
}

QCoro::Task<> LikedWallpaperStore::report(QString wallpaperID, bool liked, quint64 toggle)
{
    if (!m_endpoint) {
        m_latestToggles.remove(wallpaperID);
        co_return;
    }
    const LikeRequest body{wallpaperID, deviceID(m_defaults), liked};
    const NetworkReplyPtr reply(sharedNetworkAccessManager().post(
        makeReportRequest(*m_endpoint, m_reportTimeoutMs), body.toJson()));
    QPointer<LikedWallpaperStore> self(this);
    co_await reply.get();
    if (!self)
        co_return;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool accepted = reply->error() == QNetworkReply::NoError && status.isValid() &&
                          status.toInt() >= 200 && status.toInt() <= 299;
    const bool isLatest = m_latestToggles.value(wallpaperID) == toggle;
    if (isLatest)
        m_latestToggles.remove(wallpaperID);
    // A newer toggle of the same wallpaper is the user's last word: a late
    // failure of an older one must not turn it round.
    if (!accepted && isLatest) {
        QSet<QString> ids = m_ids;
        if (liked)
            ids.remove(wallpaperID);
        else
            ids.insert(wallpaperID);
        setIDs(std::move(ids));
    }
    Q_EMIT reportFinished(wallpaperID, liked, accepted);
}

} // namespace lumivale
