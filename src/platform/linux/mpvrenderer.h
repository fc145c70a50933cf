#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QWindow;
struct mpv_handle;
struct mpv_render_context;
struct xcb_connection_t;

namespace lumivale {

// Draws the desktop windows' video, all of them, on one thread of its own.
//
// A source is one mpv core with its render context: one decode. A window
// shows a stack of layers, each naming a source; several windows may name the
// same source, and each frame of it is then rendered once per distinct window
// size and put on every window of that size, scaled and cropped to it. The
// topmost visible layer of a window is drawn to it (black until its source
// has a frame). A source that no window shows still has each new frame drawn
// offscreen, so that its player keeps running and its first frame is known:
// at the size of the windows where it has an invisible layer (a video about
// to be shown), so that showing it is a copy of a picture already rendered,
// else into a small target. `frameDrawn` reports a source's first drawn frame:
// that, and not mpv's file or playback events, is when it is ready to be
// shown; from then until its layer is shown, that window holds back the
// outgoing video's frames (a few at most), so that the switch does not wait
// behind them. Render passes yield to the calls queued from the owner. A
// paused source brings no new frame, so nothing is drawn while paused except
// what an expose asks for again.
//
// Every slot runs on the render thread; invoke them queued from the owner.
// Render contexts are made and freed here only, and each is freed
// (`freeSource`) before its core is destroyed. A window must be removed
// (`removeWindow`, blocking) before it is destroyed. How a frame reaches a
// window is the subclass's: mpv's OpenGL renderer (MpvRenderer) or its
// software renderer (MpvSoftwareRenderer).
class DesktopLayerRenderer : public QObject
{
    Q_OBJECT

public:
    ~DesktopLayerRenderer() override;

    // `window` is the Qt window (for OpenGL), `nativeWindow` its X11 ID.
    void addWindow(int window, QWindow *qwindow, uint32_t nativeWindow);
    void removeWindow(int window);
    // Makes the render context, then loads the file: mpv plays nothing if
    // `loadfile` comes before the context.
    void addSource(int source, mpv_handle *mpv, const QByteArray &file);
    void freeSource(int source);
    // A layer of `window` showing `source`, above the window's other layers.
    void addLayer(int window, int layer, int source, bool visible);
    void setLayerVisible(int window, int layer, bool visible);
    void removeLayer(int window, int layer);
    // `redraw`: the window's contents were lost (an expose); the shown frame
    // is drawn again even when nothing changed, also while paused.
    void setTarget(int window, QSize pixelSize, bool exposed, bool redraw = false);
    // Frees what is left; the last call.
    void shutdown();

Q_SIGNALS:
    void frameDrawn(int source);
    void sourceFreed(int source);
    // The render context could not be made; the source never shows.
    void sourceFailed(int source);

protected:
    struct Source
    {
        int id;
        mpv_handle *mpv;
        mpv_render_context *context = nullptr;
        bool hasFrame = false;
        bool newFrame = false;
        quint64 serial = 0; // counts the frames mpv has brought
    };
    struct Layer
    {
        int id;
        int source;
        bool visible;
    };
    struct Target
    {
        int id;
        QWindow *window;
        uint32_t nativeWindow;
        QSize size;
        bool exposed = false;
        bool stale = true;
        int shownSource = -1; // -1: black, or nothing drawn yet
        std::vector<Layer> layers;
        // A waiting layer's source that has its first frame: the window is
        // about to switch to it, and the outgoing video's frames wait.
        int switchingTo = -1;
        int heldFrames = 0;
    };

    // Readies the thread to render (a current context, a connection); false
    // when it cannot.
    virtual bool begin() = 0;
    virtual mpv_render_context *createContext(mpv_handle *mpv) = 0;
    // Draws the source's new frame where nobody sees it.
    virtual void drawHidden(Source &source) = 0;
    // Renders the source's present frame into its picture of `size`, unless
    // the picture already holds it; nothing is shown.
    virtual void drawPicture(Source &source, QSize size) = 0;
    // Puts the source's picture of `size` on every target, all of that size,
    // rendering it first if it is not current; black for a null source.
    virtual void drawToTargets(Source *source, QSize size,
                               const std::vector<Target *> &targets) = 0;
    // Pictures are kept per source and size; those of any other pair go.
    virtual void keepPictures(const std::set<std::tuple<int, int, int>> &wanted) = 0;
    // A window is about to go: let go of it.
    virtual void windowRemoved(Target &) {}
    // After every context is freed: the API's own resources go.
    virtual void releaseResources() = 0;

    // For subclasses once a source's frame has been rendered.
    void noteRendered(Source &source);

private:
    bool event(QEvent *event) override;
    void scheduleRender();
    void render();
    void dropUnusedPictures();
    static bool waitsFor(const Target &target, int source);
    void freeContext(Source &source);
    Source *findSource(int id);
    Target *findTarget(int id);

    std::map<int, std::unique_ptr<Source>> m_sources;
    std::map<int, std::unique_ptr<Target>> m_targets;
    std::atomic_bool m_renderQueued = false;
};

// mpv's OpenGL renderer: each frame rendered once per window size into a
// framebuffer object of one OpenGL context, and copied from there onto each
// window's surface. Made on the main thread (it makes the offscreen surface
// that the context uses when no window is at hand).
class MpvRenderer : public DesktopLayerRenderer
{
    Q_OBJECT

public:
    MpvRenderer();
    ~MpvRenderer() override;

protected:
    bool begin() override;
    mpv_render_context *createContext(mpv_handle *mpv) override;
    void drawHidden(Source &source) override;
    void drawPicture(Source &source, QSize size) override;
    void drawToTargets(Source *source, QSize size, const std::vector<Target *> &targets) override;
    void keepPictures(const std::set<std::tuple<int, int, int>> &wanted) override;
    void windowRemoved(Target &target) override;
    void releaseResources() override;

private:
    struct Picture
    {
        std::unique_ptr<QOpenGLFramebufferObject> fbo;
        quint64 serial = 0; // of the source's frame it holds; 0: none
    };
    void draw(Source &source, unsigned fbo, QSize size);
    Picture &picture(Source &source, QSize size);

    xcb_connection_t *m_connection = nullptr; // Qt's, which the swaps use
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_offscreen;
    std::map<std::tuple<int, int, int>, Picture> m_pictures; // by source, width and height
};

} // namespace lumivale
