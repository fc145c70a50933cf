#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <atomic>
#include <memory>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QWindow;
struct mpv_handle;
struct mpv_render_context;

namespace lumivale {

// Draws the mpv layers of one window, straight into the window's surface, on
// a thread of its own with its own OpenGL context.
//
// Layers stack in the order they were added. The topmost visible layer is
// drawn to the window (black until it has a frame); a layer that is not
// visible still has each new frame drawn into a small offscreen target, so that
// its player keeps running and its first frame is known. `frameDrawn` reports a
// layer's first drawn frame: that, and not mpv's file or playback events, is
// when the layer is ready to be shown.
//
// Every slot runs on the render thread; invoke them queued from the owner. The
// window must have its native handle before the thread starts, and must
// outlive the renderer. Render contexts are made and freed here only, and
// each is freed (`freeLayer`) before its core is destroyed.
class MpvRenderer : public QObject
{
    Q_OBJECT

public:
    explicit MpvRenderer(QWindow *window);
    ~MpvRenderer() override;

public:
    // Makes the render context, then loads the file: mpv plays nothing if
    // `loadfile` comes before the context.
    void addLayer(int id, mpv_handle *mpv, const QByteArray &file, bool visible);
    void setLayerVisible(int id, bool visible);
    // Stops drawing the layer; its context stays until `freeLayer`.
    void removeLayer(int id);
    void freeLayer(int id);
    // `redraw`: the window's contents were lost (an expose); the shown frame
    // is drawn again even when nothing changed, also while paused.
    void setTarget(QSize pixelSize, bool exposed, bool redraw = false);
    // Frees what is left and the OpenGL context; the last call.
    void shutdown();

Q_SIGNALS:
    void frameDrawn(int id);
    void layerFreed(int id);
    // The render context could not be made; the layer never shows.
    void layerFailed(int id);

private:
    struct Layer;
    bool makeCurrent();
    void scheduleRender();
    void render();
    void drawLayer(Layer &layer, unsigned fbo, QSize size, bool flipY);
    Layer *find(int id);

    QWindow *m_window;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_offscreen;
    std::vector<std::unique_ptr<Layer>> m_layers;
    QSize m_pixelSize;
    bool m_exposed = false;
    int m_screenLayer = -1;
    bool m_screenStale = true;
    std::atomic_bool m_renderQueued = false;
};

} // namespace lumivale
