#include "library.h"

#include "catalogue/wallpaper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>

using namespace Qt::StringLiterals;

namespace lumivale::service {
namespace {

// As the application's cache allows: "<id>.mp4" must fit in a file name.
constexpr qsizetype kMaxFileNameBytes = 255;

std::optional<QString> optionalString(const QJsonObject &object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

} // namespace

bool isPlainFileName(const QString &file)
{
    return !file.isEmpty() && file != u"." && file != u".." && !file.contains(u'/') &&
           !file.contains(QChar(0));
}

bool isUsableWallpaperID(const QString &id)
{
    return isPlainFileName(id) && QFile::encodeName(id + u".mp4"_s).size() <= kMaxFileNameBytes;
}

QJsonObject LibraryEntry::toJson() const
{
    QJsonObject object{{u"id"_s, id},
                       {u"file"_s, file},
                       {u"name"_s, name},
                       {u"category"_s, category},
                       {u"resolution"_s, resolution}};
    if (createdAt)
        object.insert(u"createdAt"_s, formatInternetDateTime(*createdAt));
    if (sizeBytes)
        object.insert(u"sizeBytes"_s, *sizeBytes);
    if (durationSeconds)
        object.insert(u"durationSeconds"_s, *durationSeconds);
    if (gradient)
        object.insert(u"gradient"_s, QJsonArray::fromStringList(*gradient));
    return object;
}

Result<QList<LibraryEntry>> readLibrary(const QString &folder)
{
    QFile file(QDir(folder).filePath(kLibraryFileName));
    if (!file.exists())
        return QList<LibraryEntry>();
    if (!file.open(QIODevice::ReadOnly))
        return failure(kLibraryErrorDomain, 1, file.errorString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject() || !document.object().value(u"wallpapers").isArray())
        return failure(kLibraryErrorDomain, 2,
                       u"%1 is not a library file: %2"_s.arg(
                           file.fileName(), parseError.error != QJsonParseError::NoError
                                                ? parseError.errorString()
                                                : u"no \"wallpapers\" array"_s));
    QList<LibraryEntry> entries;
    QSet<QString> ids;
    for (const QJsonValue &value : document.object().value(u"wallpapers").toArray()) {
        const QJsonObject object = value.toObject();
        LibraryEntry entry;
        entry.id = object.value(u"id").toString();
        entry.file = object.value(u"file").toString();
        if (!isUsableWallpaperID(entry.id) || ids.contains(entry.id) ||
            !isPlainFileName(entry.file)) {
            logLine(u"library: skipping an entry with a bad or duplicate id or file: "_s +
                    QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
            continue;
        }
        ids.insert(entry.id);
        entry.name = optionalString(object, "name"_L1).value_or(entry.id);
        entry.category = optionalString(object, "category"_L1).value_or(u"Featured"_s);
        entry.resolution = optionalString(object, "resolution"_L1).value_or(QString());
        if (const auto created = optionalString(object, "createdAt"_L1))
            entry.createdAt = parseInternetDateTime(*created);
        if (object.value(u"sizeBytes").isDouble())
            entry.sizeBytes = object.value(u"sizeBytes").toInteger();
        if (object.value(u"durationSeconds").isDouble())
            entry.durationSeconds = object.value(u"durationSeconds").toDouble();
        if (object.value(u"gradient").isArray()) {
            QStringList colours;
            for (const QJsonValue &colour : object.value(u"gradient").toArray())
                if (colour.isString())
                    colours.append(colour.toString());
            entry.gradient = colours;
        }
        entries.append(entry);
    }
    return entries;
}

Result<> writeLibrary(const QString &folder, const QList<LibraryEntry> &entries)
{
    QJsonArray array;
    for (const LibraryEntry &entry : entries)
        array.append(entry.toJson());
    QSaveFile file(QDir(folder).filePath(kLibraryFileName));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(QJsonObject{{u"wallpapers"_s, array}}).toJson());
        if (file.commit())
            return {};
    }
    return failure(kLibraryErrorDomain, 3, file.errorString());
}

} // namespace lumivale::service
