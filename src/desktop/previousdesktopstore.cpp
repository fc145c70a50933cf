#include "previousdesktopstore.h"

#include "platform/desktoppictures.h"
#include "platform/screens.h"
#include "platform/userdefaults.h"
#include "stills.h"
#include "wallpapermanager.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lumivale {
namespace {

std::optional<qlonglong> parseInteger(const QString &text)
{
    qsizetype digitsFrom = 0;
    if (text.startsWith(u'+') || text.startsWith(u'-'))
        digitsFrom = 1;
    if (digitsFrom == text.size())
        return std::nullopt;
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    // QString::toLongLong takes the sign and rejects overflow; the loop above
    // has already refused blanks and anything that is not an ASCII digit.
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

PreviousDesktopStore::PreviousDesktopStore(QString defaultsKey, UserDefaults &defaults,
                                           ScreenSystem &screens, DesktopPictures &pictures)
    : m_defaultsKey(std::move(defaultsKey))
    , m_defaults(defaults)
    , m_screens(screens)
    , m_pictures(pictures)
{}

Error PreviousDesktopStore::noSnapshotError()
{
    return Error(QStringLiteral("WallpaperManager"), 2,
                 QStringLiteral("No previous macOS wallpaper snapshot was saved"));
}

void PreviousDesktopStore::captureIfNeeded()
{
    if (m_defaults.data(m_defaultsKey))
        return;

    QList<Snapshot> snapshots;
    for (const Screen &screen : m_screens.screens()) {
        const std::optional<QUrl> url = m_pictures.desktopImageURL(screen);
        if (!url)
            continue;
        const QString path = url->isLocalFile() ? url->toLocalFile() : url->path();
        // One of our own stills is not the user's picture: turning the
        // wallpaper off must never put it back.
        if (stills::isOwnPicture(path))
            continue;
        snapshots.append(Snapshot{WallpaperManager::screenID(screen), screen.name, path,
                                  optionsToText(m_pictures.desktopImageOptions(screen))});
    }
    if (snapshots.isEmpty())
        return;
    m_defaults.setData(m_defaultsKey, encode(snapshots));
}

Result<> PreviousDesktopStore::restore()
{
    const std::optional<QByteArray> data = m_defaults.data(m_defaultsKey);
    const std::optional<QList<Snapshot>> snapshots = data ? decode(*data) : std::nullopt;
    if (!snapshots || snapshots->isEmpty())
        return failure(noSnapshotError());

    for (const Screen &screen : m_screens.screens()) {
        const QString id = WallpaperManager::screenID(screen);
        const auto byID = std::find_if(snapshots->cbegin(), snapshots->cend(),
                                       [&](const Snapshot &s) { return s.screenID == id; });
        const auto byName =
            std::find_if(snapshots->cbegin(), snapshots->cend(),
                         [&](const Snapshot &s) { return s.screenName == screen.name; });
        const Snapshot &chosen = byID != snapshots->cend()     ? *byID
                                 : byName != snapshots->cend() ? *byName
                                                               : snapshots->first();
        if (!QFileInfo::exists(chosen.imagePath))
            continue;
        Result<> set = m_pictures.setDesktopImage(QUrl::fromLocalFile(chosen.imagePath), screen,
                                                  optionsFromText(chosen.options));
        if (!set)
            return set;
    }
    m_defaults.remove(m_defaultsKey);
    return {};
}

QMap<QString, QString> PreviousDesktopStore::optionsToText(const QVariantMap &options)
{
    QMap<QString, QString> text;
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        const QVariant &value = it.value();
        switch (value.typeId()) {
        case QMetaType::Bool:
            text.insert(it.key(), value.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Double:
        case QMetaType::Float:
            text.insert(it.key(), value.toString());
            break;
        case QMetaType::QString:
            text.insert(it.key(), value.toString());
            break;
        default:
            break; // colours and other kinds have no text form
        }
    }
    return text;
}

QVariantMap PreviousDesktopStore::optionsFromText(const QMap<QString, QString> &text)
{
    QVariantMap options;
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        if (const auto number = parseInteger(it.value()))
            options.insert(it.key(), *number);
        else
            options.insert(it.key(), it.value());
    }
    return options;
}

QByteArray PreviousDesktopStore::encode(const QList<Snapshot> &snapshots)
{
    QJsonArray array;
    for (const Snapshot &snapshot : snapshots) {
        QJsonObject options;
        for (auto it = snapshot.options.cbegin(); it != snapshot.options.cend(); ++it)
            options.insert(it.key(), it.value());
        array.append(QJsonObject{{QStringLiteral("screenID"), snapshot.screenID},
                                 {QStringLiteral("screenName"), snapshot.screenName},
                                 {QStringLiteral("imagePath"), snapshot.imagePath},
                                 {QStringLiteral("options"), options}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<PreviousDesktopStore::Snapshot>>
PreviousDesktopStore::decode(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    QList<Snapshot> snapshots;
    for (const QJsonValue &element : document.array()) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        const QJsonValue screenID = object.value(QStringLiteral("screenID"));
        const QJsonValue screenName = object.value(QStringLiteral("screenName"));
        const QJsonValue imagePath = object.value(QStringLiteral("imagePath"));
        const QJsonValue options = object.value(QStringLiteral("options"));
        if (!screenID.isString() || !screenName.isString() || !imagePath.isString() ||
            !options.isObject())
            return std::nullopt;

        Snapshot snapshot{screenID.toString(), screenName.toString(), imagePath.toString(), {}};
        const QJsonObject optionObject = options.toObject();
        for (auto it = optionObject.begin(); it != optionObject.end(); ++it) {
            if (!it.value().isString())
                return std::nullopt;
            snapshot.options.insert(it.key(), it.value().toString());
        }
        snapshots.append(std::move(snapshot));
    }
    return snapshots;
}

} // namespace lumivale
