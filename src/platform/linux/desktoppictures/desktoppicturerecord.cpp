#include "desktoppicturerecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace lumivale {
namespace {

QJsonObject readObject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

DesktopPictureRecord::DesktopPictureRecord(QString filePath)
    : m_filePath(std::move(filePath))
{}

QString DesktopPictureRecord::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Lumivale/DesktopPictures.json");
}

std::optional<DesktopPictureRecord::Entry>
DesktopPictureRecord::entry(const QString &screenName) const
{
    const QJsonObject object = readObject(m_filePath).value(screenName).toObject();
    const QString path = object.value(QStringLiteral("path")).toString();
    if (path.isEmpty())
        return std::nullopt;
    return Entry{path, object.value(QStringLiteral("options")).toObject().toVariantMap(),
                 object.value(QStringLiteral("marker")).toString()};
}

bool DesktopPictureRecord::setEntry(const QString &screenName, const Entry &entry)
{
    return setEntry(screenName, entry, QString());
}

bool DesktopPictureRecord::setEntry(const QString &screenName, const Entry &entry,
                                    const QString &from)
{
    QJsonObject all = readObject(m_filePath);
    for (auto it = all.begin(); !from.isEmpty() && it != all.end(); ++it) {
        QJsonObject other = it.value().toObject();
        if (other.value(QStringLiteral("marker")).toString() == from) {
            other.insert(QStringLiteral("marker"), entry.marker);
            it.value() = other;
        }
    }
    QJsonObject options;
    for (auto it = entry.options.cbegin(); it != entry.options.cend(); ++it)
        options.insert(it.key(), it.value().toString());
    all.insert(screenName, QJsonObject{{QStringLiteral("path"), entry.path},
                                       {QStringLiteral("options"), options},
                                       {QStringLiteral("marker"), entry.marker}});

    QDir().mkpath(QFileInfo(m_filePath).path());
    QSaveFile file(m_filePath);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(all).toJson()) >= 0 &&
           file.commit();
}

} // namespace lumivale
