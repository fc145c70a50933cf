#pragma once

#include "platform/error.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace lumivale {

class DesktopPictures;
class ScreenSystem;
class UserDefaults;

// Saves, once, the desktop picture each screen showed before the first live
// wallpaper, with its display options, and puts them back when the user turns
// the live wallpaper off.
//
// The snapshot lives in the user defaults under `defaultsKey` as JSON data: an
// array of {"screenID", "screenName", "imagePath", "options"} objects whose
// option values are texts. So a snapshot taken in one run restores in a later
// one, and nothing overwrites it until a restore succeeds.
//
// Main thread only. The store holds references to the platform pieces and the
// defaults it was given; they must outlive it.
class PreviousDesktopStore
{
public:
    struct Snapshot
    {
        QString screenID;
        QString screenName;
        QString imagePath;
        QMap<QString, QString> options;

        friend bool operator==(const Snapshot &, const Snapshot &) = default;
    };

    PreviousDesktopStore(QString defaultsKey, UserDefaults &defaults, ScreenSystem &screens,
                         DesktopPictures &pictures);

    const QString &defaultsKey() const { return m_defaultsKey; }

    // Saves the present pictures unless a snapshot is already stored. A screen
    // that reports no picture is skipped; when none reports one, nothing is
    // stored and a later call tries again.
    void captureIfNeeded();

    // Puts the saved pictures back and forgets them. Fails with
    // noSnapshotError() when nothing usable is stored, or with the platform's
    // error when a picture cannot be set; then the snapshot stays stored and
    // screens after the failing one are left alone.
    Result<> restore();

    static Error noSnapshotError();

    // Display options to and from their stored text form: numbers become
    // decimal text (booleans 1 or 0), strings stay, anything else is dropped;
    // reading back, a whole decimal integer that fits 64 bits becomes a number.
    static QMap<QString, QString> optionsToText(const QVariantMap &options);
    static QVariantMap optionsFromText(const QMap<QString, QString> &text);

    // The stored form; decoding fails (nullopt) unless every element has the
    // four members with the right JSON types.
    static QByteArray encode(const QList<Snapshot> &snapshots);
    static std::optional<QList<Snapshot>> decode(const QByteArray &data);

private:
    const QString m_defaultsKey;
    UserDefaults &m_defaults;
    ScreenSystem &m_screens;
    DesktopPictures &m_pictures;
};

} // namespace lumivale
