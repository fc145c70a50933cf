#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

namespace lumivale {

// Lumivale's own note of the desktop picture it set on each screen, for
// desktops that cannot report their picture back (sway, a bare X11 root
// window). Kept per screen name in a small JSON file, "DesktopPictures.json"
// in the Lumivale data folder, so it survives restarts. Option values keep the
// text form of the saved snapshots (numbers as decimal text).
//
// Main thread only. A file that cannot be read counts as empty; a failed write
// is reported and leaves the file as it was.
class DesktopPictureRecord
{
public:
    struct Entry
    {
        QString path;
        QVariantMap options;
        // Opaque to the record: lets a backend tell whether what it set is
        // still what the desktop shows (the root window's pixmap ID).
        QString marker = {};
    };

    // The default file, or another one (tests).
    explicit DesktopPictureRecord(QString filePath = defaultFilePath());

    std::optional<Entry> entry(const QString &screenName) const;
    // False when the file could not be written.
    bool setEntry(const QString &screenName, const Entry &entry);
    // Gives every entry marked `from` the marker `to`, and `entry` to
    // `screenName`, in one write.
    bool setEntry(const QString &screenName, const Entry &entry, const QString &from);

    static QString defaultFilePath();
    const QString &filePath() const { return m_filePath; }

private:
    QString m_filePath;
};

} // namespace lumivale
