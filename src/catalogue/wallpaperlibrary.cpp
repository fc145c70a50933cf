#include "wallpaperlibrary.h"

#include "deviceid.h"
#include "httpclient.h"
#include "platform/appconfig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QUrlQuery>
#include <qcoro/qcoronetworkreply.h>

namespace lumivale {
namespace {

const QString kDeviceIDQueryItem = QStringLiteral("deviceId");

Error tooLargeError()
{
    return Error(ManifestError::kDomain, ManifestError::TooLarge,
                 QStringLiteral("Manifest is larger than 64 MiB"));
}

Wallpaper sample(const char *id, const char *name, const char *category,
                 std::initializer_list<const char *> gradient)
{
    Wallpaper wallpaper;
    wallpaper.setId(QString::fromLatin1(id));
    wallpaper.setName(QString::fromLatin1(name));
    wallpaper.setCategory(QString::fromLatin1(category));
    wallpaper.setResolution(QStringLiteral("4K"));
    QStringList colors;
    for (const char *color : gradient)
        colors.append(QString::fromLatin1(color));
    wallpaper.setGradient(colors);
    return wallpaper;
}

} // namespace

WallpaperLibrary::WallpaperLibrary(UserDefaults &defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_manifestURL(manifestURLFrom(infoDictionaryValue(InfoKey::ManifestURL)))
    , m_transferTimeoutMs(kDefaultTransferTimeoutMs)
{}

QCoro::Task<> WallpaperLibrary::load()
{
    // Both published together, before anything waits.
    m_isLoading = true;
    m_loadError.reset();
    Q_EMIT isLoadingChanged();
    Q_EMIT loadErrorChanged();

    const quint64 thisLoad = ++m_latestLoad;
    if (!m_manifestURL) {
        setWallpapers(sampleWallpapers());
        setIsLoading(m_runningLoads > 0);
        co_return;
    }

    ++m_runningLoads;
    QNetworkRequest request(requestURL(*m_manifestURL, deviceID(m_defaults)));
    request.setTransferTimeout(m_transferTimeoutMs);
    const NetworkReplyPtr reply(sharedNetworkAccessManager().get(request));
    // Drained as it arrives, so an oversized answer is cut off at the limit
    // instead of piling up in memory.
    QByteArray body;
    bool tooLarge = false;
    QNetworkReply *rawReply = reply.get();
    const auto refuseOversized = [rawReply, &tooLarge] {
        tooLarge = true;
        rawReply->abort();
    };
    connect(rawReply, &QNetworkReply::metaDataChanged, rawReply, [rawReply, refuseOversized] {
        const QVariant length = rawReply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxManifestBytes)
            refuseOversized();
    });
    connect(rawReply, &QNetworkReply::readyRead, rawReply, [rawReply, &body, refuseOversized] {
        if (body.size() + rawReply->bytesAvailable() > kMaxManifestBytes)
            refuseOversized();
        else
            body += rawReply->readAll();
    });

    QPointer<WallpaperLibrary> self(this);
    co_await rawReply;
    if (!self)
        co_return;
    --m_runningLoads;
    // A newer load has started since: its answer is the one that counts.
    if (thisLoad != m_latestLoad) {
        if (m_runningLoads == 0)
            setIsLoading(false);
        co_return;
    }

    const QVariant status = rawReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    Result<QList<Wallpaper>> decoded;
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        decoded = failure(httpStatusError(status.toInt()));
    } else if (tooLarge) {
        decoded = failure(tooLargeError());
    } else if (rawReply->error() != QNetworkReply::NoError) {
        decoded = failure(networkError(*rawReply, m_transferTimeoutMs, kNetworkErrorDomain));
    } else if (body.size() + rawReply->bytesAvailable() > kMaxManifestBytes) {
        decoded = failure(tooLargeError());
    } else {
        body += rawReply->readAll();
        decoded = decodeManifest(body);
    }

    if (decoded) {
        setWallpapers(std::move(*decoded));
    } else {
        setWallpapers({});
        setLoadError(decoded.error().description());
    }
    setIsLoading(m_runningLoads > 0);
}

std::optional<QUrl> WallpaperLibrary::manifestURLFrom(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QUrl WallpaperLibrary::requestURL(const QUrl &manifestURL, const QString &deviceID)
{
    QUrlQuery query(manifestURL.query(QUrl::FullyEncoded));
    query.removeAllQueryItems(kDeviceIDQueryItem);
    query.addQueryItem(kDeviceIDQueryItem, QString::fromLatin1(QUrl::toPercentEncoding(deviceID)));
    QUrl url = manifestURL;
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url.isValid() ? url : manifestURL;
}

Error WallpaperLibrary::httpStatusError(int status)
{
    return Error(kErrorDomain, status,
                 QStringLiteral("Manifest request failed with HTTP %1").arg(status));
}

const QList<Wallpaper> &WallpaperLibrary::sampleWallpapers()
{
    static const QList<Wallpaper> wallpapers = [] {
        QList<Wallpaper> list{
            sample("001", "Nebula Drift", "Space", {"#1B1450", "#3D1A78", "#0A0420"}),
            sample("002", "Black Hole", "Space", {"#050510", "#1E145A", "#6B2BA8"}),
            sample("003", "Solar Dust", "Space", {"#1A0B2E", "#EC6E4C", "#FFE1A8"}),
            sample("004", "Deep Orbit", "Space", {"#020617", "#123C69", "#0F172A"}),
            sample("005", "Green Leaves", "Nature", {"#0E3B2E", "#0A2118"}),
            sample("006", "Ocean Depths", "Nature", {"#0B2A4A", "#04101F"}),
            sample("007", "Rainforest Glass", "Nature", {"#082F23", "#1F7A4D", "#A7F3D0"}),
            sample("008", "Misty River", "Nature", {"#102A2A", "#3A6B63", "#B7D7C8"}),
            sample("009", "Arctic Fox", "Animals", {"#DCEBFF", "#88A6C8", "#1F2937"}),
            sample("010", "Night Panther", "Animals", {"#050505", "#222A35", "#7C3AED"}),
            sample("011", "Coral Fish", "Animals", {"#083344", "#0EA5E9", "#FB7185"}),
            sample("012", "Golden Eagle", "Animals", {"#2B1708", "#B7791F", "#FDE68A"}),
            sample("013", "Tokyo Night", "Nature", {"#111827", "#BE185D", "#38BDF8"}),
            sample("014", "Glass Towers", "Nature", {"#0F172A", "#334155", "#CBD5E1"}),
            sample("015", "Neon Alley", "Nature", {"#3A0E5C", "#A8175F", "#160429"}),
            sample("016", "Morning Transit", "Nature", {"#1E293B", "#F97316", "#F8FAFC"}),
            sample("017", "Moonlit Peaks", "Nature", {"#1A1A1A", "#0A0A0A"}),
            sample("018", "Desert Line", "Nature", {"#3B2415", "#D97706", "#FDE68A"}),
            sample("019", "Frozen Lake", "Nature", {"#0F172A", "#64748B", "#E0F2FE"}),
            sample("020", "Volcanic Ridge", "Nature", {"#140A05", "#7F1D1D", "#F97316"}),
            sample("021", "Liquid Chrome", "Lofi", {"#111827", "#6B7280", "#F9FAFB"}),
            sample("022", "Prism Field", "Lofi", {"#312E81", "#06B6D4", "#F0FDFA"}),
            sample("023", "Soft Static", "Lofi", {"#18181B", "#71717A", "#E4E4E7"}),
            sample("024", "Amber Waves", "Lofi", {"#451A03", "#F59E0B", "#FEF3C7"}),
        };
        list.first().setIsNew(true);
        return list;
    }();
    return wallpapers;
}

void WallpaperLibrary::setWallpapers(QList<Wallpaper> wallpapers)
{
    m_wallpapers = std::move(wallpapers);
    Q_EMIT wallpapersChanged();
}

void WallpaperLibrary::setIsLoading(bool isLoading)
{
    m_isLoading = isLoading;
    Q_EMIT isLoadingChanged();
}

void WallpaperLibrary::setLoadError(std::optional<QString> loadError)
{
    m_loadError = std::move(loadError);
    Q_EMIT loadErrorChanged();
}

} // namespace lumivale
