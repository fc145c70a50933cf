#pragma once

#include "singleinstance.h"

#include <QList>
#include <QSet>
#include <QStringList>

namespace lumivale {

class AppDelegate;
class UserDefaults;
class VideoCache;
struct Screen;

// The command line's commands, run in the running instance: each does what
// the matching menu item or gallery control does, but answers the caller
// instead of showing an alert.
//
// Main thread only. The delegate must outlive the commands.
class ShellCommands
{
public:
    explicit ShellCommands(AppDelegate &delegate);

    QCoro::Task<CommandReply> run(CommandLine command);

    // "--status" as text, from the parts of the state it reports.
    struct Status
    {
        QString wallpaperID;   // empty: none
        QStringList screenIDs; // empty: all screens
        enum class Playback { Playing, Paused, Off } playback = Playback::Off;
        qint64 cacheBytes = 0;
        int cachedVideos = 0;
        QString desktopIntegration; // empty: not known
        QString render;             // how the desktop windows draw; empty: not known
    };
    static QString statusText(const Status &status);
    // The status of a session without a running instance: what the next
    // launch would restore.
    static QString offlineStatusText(const UserDefaults &defaults, const VideoCache &cache);
    // "--screens": one line per screen, "ID<TAB>name<TAB>WxH+X+Y".
    static QString screensText(const QList<Screen> &screens);

private:
    QCoro::Task<CommandReply> apply(QString target, QStringList screenIDs);
    Status currentStatus() const;

    AppDelegate &m_delegate;
};

} // namespace lumivale
