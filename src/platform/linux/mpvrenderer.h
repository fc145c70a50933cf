#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <atomic>
#include <memory>
#include <vector>

class QOpenGLContext;
class QOpenGLFramebufferObject;
class QWindow;
struct mpv_handle;
struct mpv_render_context;

namespace lumivale {

// Draws the mpv layers of one desktop window, on a thread of its own.
//
// Layers stack in the order they were added. The topmost visible layer is
// drawn to the window (black until it has a frame); a layer that is not
// visible still has each new frame drawn into a small offscreen target, so that
// its player keeps running and its first frame is known. `frameDrawn` reports a
// layer's first drawn frame: that, and not mpv's file or playback events, is
// when the layer is ready to be shown. A paused player brings no new frame, so
// nothing is drawn while paused except what an expose asks for again.
//
// Every slot runs on the render thread; invoke them queued from the owner.
// Render contexts are made and freed here only, and each is freed
// (`freeLayer`) before its core is destroyed. How a frame reaches the window
// is the subclass's: mpv's OpenGL renderer (MpvRenderer) or its software
// renderer (MpvSoftwareRenderer).
class DesktopLayerRenderer : public QObject
{
    Q_OBJECT

public:
    ~DesktopLayerRenderer() override;

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
    // Frees what is left; the last call.
    void shutdown();

Q_SIGNALS:
    void frameDrawn(int id);
    void layerFreed(int id);
    // The render context could not be made; the layer never shows.
    void layerFailed(int id);

protected:
    struct Layer
    {
        int id;
        mpv_handle *mpv;
        mpv_render_context *context = nullptr;
        bool visible;
        bool removed = false;
        bool hasFrame = false;
        bool newFrame = false;
    };

    // Readies the thread to render (a current context, a connection); false
    // when it cannot.
    virtual bool begin() = 0;
    virtual mpv_render_context *createContext(mpv_handle *mpv) = 0;
    // Draws the layer's new frame where nobody sees it.
    virtual void drawHidden(Layer &layer) = 0;
    // Puts the layer's frame on the window at the target size, or black for
    // null. `freshFrame`: mpv has a new frame for it; otherwise the picture
    // is needed again (another layer, a new size, an expose).
    virtual void drawToWindow(Layer *layer, bool freshFrame) = 0;
    // After every context is freed: the API's own resources go.
    virtual void releaseResources() = 0;

    // For subclasses once a layer's frame has been rendered.
    void noteRendered(Layer &layer);
    QSize targetSize() const { return m_pixelSize; }
    // Invalidates what is on the window, so that the next pass draws it again.
    void markStale() { m_screenStale = true; }

private:
    void scheduleRender();
    void render();
    void freeContext(Layer &layer);
    Layer *find(int id);

    std::vector<std::unique_ptr<Layer>> m_layers;
    QSize m_pixelSize;
    bool m_exposed = false;
    int m_screenLayer = -1;
    bool m_screenStale = true;
    std::atomic_bool m_renderQueued = false;
};

// mpv's OpenGL renderer, straight into the window's surface with an OpenGL
// context of the render thread's own. The window must have its native handle
// before the thread starts, and must outlive the renderer.
class MpvRenderer : public DesktopLayerRenderer
{
    Q_OBJECT

public:
    explicit MpvRenderer(QWindow *window);
    ~MpvRenderer() override;

protected:
    bool begin() override;
    mpv_render_context *createContext(mpv_handle *mpv) override;
    void drawHidden(Layer &layer) override;
    void drawToWindow(Layer *layer, bool freshFrame) override;
    void releaseResources() override;

private:
    void draw(Layer &layer, unsigned fbo, QSize size, bool flipY);

    QWindow *m_window;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_offscreen;
};

} // namespace lumivale
