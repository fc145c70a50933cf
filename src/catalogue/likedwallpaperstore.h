#pragma once

#include "wallpaper.h"

#include <QNetworkRequest>
#include <QObject>
#include <QSet>
#include <qcoro/qcorotask.h>

namespace lumivale {

class UserDefaults;

// The body of one like change sent to the web service.
struct LikeRequest
{
    QString wallpaperId;
    QString deviceId;
    bool liked = false;

    // {"wallpaperId": ..., "deviceId": ..., "liked": ...}, compact.
    QByteArray toJson() const;
};

// The wallpapers liked on this machine. The set is kept in the user defaults
// ("likedWallpaperIDs", a sorted string array, rewritten on every change) and
// every like or unlike is reported to the service's "/likes" endpoint, next
// to the manifest. A change shows at once; when the service does not accept
// the report (transport error, no answer within the report timeout, status
// outside 200-299) the change is undone, silently, unless the user has
// toggled the same wallpaper again since: the last choice always stands.
// Without a configured manifest address likes stay local.
//
// Main thread only; the reports run there too, suspended only while they wait
// for the network. The defaults must outlive the store. A report still in
// flight when the store is destroyed is dropped when it completes.
class LikedWallpaperStore : public QObject
{
    Q_OBJECT
    // Published: every assignment notifies, also when the value is unchanged.
    Q_PROPERTY(QSet<QString> ids READ ids NOTIFY idsChanged)

public:
    static inline const QString kLikedIDsKey = QStringLiteral("likedWallpaperIDs");
    static constexpr int kReportTimeoutMs = 60 * 1000;

    explicit LikedWallpaperStore(UserDefaults &defaults, QObject *parent = nullptr);

    const QSet<QString> &ids() const { return m_ids; }
    Q_INVOKABLE bool isLiked(const QString &wallpaperID) const
    {
        return m_ids.contains(wallpaperID);
    }
    // Where like changes go; none when no manifest address is configured.
    const std::optional<QUrl> &endpoint() const { return m_endpoint; }

    // Flips the record's like state and reports it; returns without waiting.
    void toggle(const Wallpaper &wallpaper);
    // Adds the records the manifest marks as liked; never removes any.
    void mergeServerLikes(const QList<Wallpaper> &wallpapers);

    // The manifest URL's scheme, host and port with the path "/likes", or
    // none when the text is not a URL with a scheme and a host.
    static std::optional<QUrl> likesEndpoint(const QString &manifestURLText);
    // The POST that reports one like change, given up after `timeoutMs`
    // without a byte.
    static QNetworkRequest makeReportRequest(const QUrl &endpoint,
                                             int timeoutMs = kReportTimeoutMs);
    // kReportTimeoutMs unless set; applies to reports started later.
    void setReportTimeout(int milliseconds) { m_reportTimeoutMs = milliseconds; }

Q_SIGNALS:
    void idsChanged();
    // After a report has been answered (or has failed); `accepted` false means
    // the change was undone, or left to a newer toggle of the same wallpaper.
    void reportFinished(const QString &wallpaperID, bool liked, bool accepted);

private:
    void setIDs(QSet<QString> ids);
    QCoro::Task<> report(QString wallpaperID, bool liked, quint64 toggle);

    UserDefaults &m_defaults;
    QSet<QString> m_ids;
    const std::optional<QUrl> m_endpoint;
    int m_reportTimeoutMs = kReportTimeoutMs;
    // The number of the latest toggle of each wallpaper with a report in
    // flight; a failed report undoes its change only while it is the latest.
    QHash<QString, quint64> m_latestToggles;
    quint64 m_toggleCount = 0;
};

} // namespace lumivale
