#pragma once

#include "platform/error.h"
#include "wallpaper.h"

#include <QObject>
#include <qcoro/qcorotask.h>

namespace lumivale {

class UserDefaults;

// The catalogue as the gallery sees it: the manifest fetched from the
// configured "ManifestURL" (with this installation's "deviceId" in the query),
// published with a loading flag and the text of the last failure. Without a
// configured address it publishes the built-in demo catalogue instead.
//
// A failed load (network error, no byte from the server for the transfer
// timeout, HTTP status outside 200-299, a manifest that does not decode or is
// larger than kMaxManifestBytes) empties the list and puts a readable
// description in `loadError`; load() itself never fails. Loads may overlap:
// the newest load() decides the list and the error, whatever order the
// answers come in, and `isLoading` stays true until the last running load
// has ended.
//
// Main thread only; load() runs there between its waits. The defaults (read
// for the device ID) must outlive the library. A load still waiting when the
// library is destroyed publishes nothing.
class WallpaperLibrary : public QObject
{
    Q_OBJECT
    // Published: every assignment notifies, also when the value is unchanged.
    Q_PROPERTY(QList<lumivale::Wallpaper> wallpapers READ wallpapers NOTIFY wallpapersChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    // Null when the last load did not fail.
    Q_PROPERTY(QString loadError READ loadErrorText NOTIFY loadErrorChanged)

public:
    static inline const QString kErrorDomain = QStringLiteral("WallpaperLibrary");
    static inline const QString kNetworkErrorDomain = QStringLiteral("Network");

    // Resolves the manifest address from the configuration, once; does not load.
    explicit WallpaperLibrary(UserDefaults &defaults, QObject *parent = nullptr);

    const QList<Wallpaper> &wallpapers() const { return m_wallpapers; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString> &loadError() const { return m_loadError; }
    QString loadErrorText() const { return m_loadError.value_or(QString()); }
    const std::optional<QUrl> &manifestURL() const { return m_manifestURL; }

    // Fetches and publishes the catalogue; see the class comment.
    QCoro::Task<> load();

    // kDefaultTransferTimeoutMs unless set; applies to loads started later.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

    // A configured address: a non-empty text that parses as a URL.
    static std::optional<QUrl> manifestURLFrom(const QString &text);
    // `manifestURL` with every "deviceId" item replaced by one, last, that
    // carries `deviceID`; the other items keep their order.
    static QUrl requestURL(const QUrl &manifestURL, const QString &deviceID);
    // "Manifest request failed with HTTP <status>".
    static Error httpStatusError(int status);
    // The demo catalogue, built once per process.
    static const QList<Wallpaper> &sampleWallpapers();

Q_SIGNALS:
    void wallpapersChanged();
    void isLoadingChanged();
    void loadErrorChanged();

private:
    void setWallpapers(QList<Wallpaper> wallpapers);
    void setIsLoading(bool isLoading);
    void setLoadError(std::optional<QString> loadError);

    UserDefaults &m_defaults;
    QList<Wallpaper> m_wallpapers;
    bool m_isLoading = false;
    std::optional<QString> m_loadError;
    const std::optional<QUrl> m_manifestURL;
    int m_transferTimeoutMs;
    // Numbers each load(), so only the newest publishes its answer.
    quint64 m_latestLoad = 0;
    int m_runningLoads = 0;
};

} // namespace lumivale
