#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <initializer_list>

struct mpv_handle;
struct mpv_render_context;

namespace lumivale {

// One libmpv core, set up for wallpaper playback: no audio output at all,
// hardware decoding where it is safe, no screensaver inhibition, the last
// frame held at the end of the item, the picture cropped to fill, and output
// only through the render API (a render context must exist before `loadfile`).
//
// Lives on the main thread. mpv's wakeup callback runs on mpv's threads and
// only posts to this object; the callback is cleared before the object goes,
// which mpv guarantees waits out a call in progress. Signals arrive on the
// main thread.
class MpvCore : public QObject
{
    Q_OBJECT

public:
    // Null when libmpv cannot make a core (it refuses under a non-C numeric
    // locale, for one).
    static MpvCore *create(QObject *parent = nullptr);
    // The same, with some options set otherwise (name, value).
    static MpvCore *
    createWithOptions(std::initializer_list<std::pair<const char *, const char *>> options,
                      QObject *parent = nullptr);
    ~MpvCore() override;

    mpv_handle *handle() const { return m_mpv; }

    void setPaused(bool paused);
    void command(std::initializer_list<const char *> arguments);
    double timePosition() const;
    bool isVideoOutputConfigured() const { return m_voConfigured; }
    // mpv's reason for the last failed load; empty when it gave none.
    QString lastErrorDescription() const { return m_lastError; }

    // Has each file's rotation (its container's display matrix) applied by a
    // filter before the picture reaches the output, instead of by the output
    // itself: mpv's software renderer cannot turn pictures, and aborts on a
    // quarter-turned one. Call before the first file is loaded.
    void turnPicturesInFilters();

    // Hands the core to a worker thread that destroys it and gives the freed
    // memory back to the system, then deletes this object. After the call no
    // signal is emitted.
    void terminateLater();

    // Cores still being destroyed off the main thread.
    static int pendingTerminations();
    // Cores made and not yet destroyed, those being destroyed included: 0
    // once every player has gone (tests check it, as leak checkers cannot see
    // into libmpv).
    static int liveCount();

Q_SIGNALS:
    // The file opened; `playable` is false when it has no moving video track.
    void fileLoaded(bool playable);
    // The file ended without playing: missing, unreadable or not a video.
    void loadFailed();
    void endReached();
    void videoOutputConfiguredChanged(bool configured);

private:
    explicit MpvCore(mpv_handle *mpv, QObject *parent);
    void drainEvents();
    void detach();

    mpv_handle *m_mpv;
    std::atomic_bool m_drainQueued = false;
    bool m_voConfigured = false;
    bool m_fileLoaded = false;
    QString m_lastError;
};

// A render context drawing with the OpenGL context current on the calling
// thread (mpv resolves its functions through it), for `mpv`; nullptr when mpv
// refuses. Call with that context current; free with mpv_render_context_free.
mpv_render_context *createOpenGLRenderContext(mpv_handle *mpv);

} // namespace lumivale
