#include "scanner.h"

#include "videoprobe.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

using namespace Qt::StringLiterals;

namespace lumivale::service {

QString resolutionLabel(int width, int height)
{
    // Lines of the shorter side, so that a portrait video is labelled like
    // its landscape twin.
    const int lines = std::min(width, height);
    return lines >= 2160 ? u"4K"_s : QString::number(lines) + u'p';
}

QString nameFromFileName(const QString &baseName)
{
    QStringList words =
        QString(baseName).replace(u'_', u' ').replace(u'-', u' ').split(u' ', Qt::SkipEmptyParts);
    for (QString &word : words)
        word[0] = word[0].toUpper();
    return words.isEmpty() ? baseName : words.join(u' ');
}

Result<ScanResult> scanLibrary(const QString &folder)
{
    const Result<QList<LibraryEntry>> existing = readLibrary(folder);
    if (!existing)
        return failure(existing.error());
    QHash<QString, LibraryEntry> existingByFile;
    QStringList order;
    for (const LibraryEntry &entry : *existing) {
        existingByFile.insert(entry.file, entry);
        order.append(entry.file);
    }
    const QStringList files = QDir(folder).entryList(
        {u"*.mp4"_s, u"*.m4v"_s, u"*.mov"_s, u"*.webm"_s, u"*.mkv"_s}, QDir::Files, QDir::Name);
    for (const QString &file : files)
        if (!existingByFile.contains(file))
            order.append(file);

    const QSet<QString> present(files.begin(), files.end());
    ScanResult result;
    QSet<QString> ids;
    for (const QString &file : std::as_const(order)) {
        if (!present.contains(file))
            continue; // gone since the last scan
        const QFileInfo info(QDir(folder).filePath(file));
        LibraryEntry entry = existingByFile.value(file);
        if (entry.file.isEmpty()) {
            entry.file = file;
            entry.id = info.completeBaseName();
            entry.name = nameFromFileName(entry.id);
            entry.category = u"Featured"_s;
        }
        if (!isUsableWallpaperID(entry.id) || ids.contains(entry.id)) {
            result.skipped.append(
                u"%1: \"%2\" cannot be a wallpaper ID, or another file has it"_s.arg(file,
                                                                                     entry.id));
            continue;
        }
        const Result<VideoFacts> facts = probeVideo(info.filePath());
        if (!facts) {
            result.skipped.append(
                u"%1: not a playable video (%2)"_s.arg(file, facts.error().description()));
            continue;
        }
        ids.insert(entry.id);
        entry.resolution = resolutionLabel(facts->width, facts->height);
        entry.sizeBytes = info.size();
        entry.durationSeconds = std::round(facts->durationSeconds * 1000) / 1000;
        entry.createdAt = info.lastModified().toUTC();
        entry.createdAt->setMSecsSinceEpoch(entry.createdAt->toSecsSinceEpoch() * 1000);
        const QImage bands = facts->frame.convertToFormat(QImage::Format_RGB32)
                                 .scaled(1, 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        entry.gradient = QStringList{};
        for (int y = 0; y < 3; ++y)
            entry.gradient->append(QColor(bands.pixel(0, y)).name(QColor::HexRgb).toUpper());
        result.entries.append(entry);
    }
    return writeLibrary(folder, result.entries).transform([&] { return std::move(result); });
}

} // namespace lumivale::service
