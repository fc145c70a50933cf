#pragma once

#include <QByteArray>
#include <QPointer>
#include <QQuickItem>
#include <memory>

class QThread;

namespace lumivale {

class MpvCore;
class SoftwareVideoRenderer;
struct VideoItemLink;

// How a gallery item gets its picture out of mpv.
enum class GalleryRenderPath {
    OpenGL,   // mpv's OpenGL render API into a texture, on the scene graph's render thread
    Software, // mpv's software renderer at the item's pixel size on a worker thread, handed
              // to the scene as an image
};

// OpenGL where it is hardware-accelerated, software where OpenGL itself is
// (llvmpipe, softpipe, swrast). LUMIVALE_GALLERY_RENDER=gl|sw forces one.
// Decided once per process; main thread.
GalleryRenderPath galleryRenderPath();
// The GL_RENDERER string of this display's OpenGL; empty when there is none.
QString openGLRendererName();
// Has Qt Quick draw its scenes the way the gallery's videos are drawn: with
// its own software painter on the software path, where it repaints only what
// changed (a playing video's rectangle, not the whole window each frame, as a
// software OpenGL must). Main thread, after the QGuiApplication is made and
// before the first QQuickWindow.
void chooseSceneGraphicsApi();

// The picture of one mpv core in Qt Quick. The render context is made where
// the path needs it (the render thread, or the worker), and only then is the
// file loaded: mpv plays nothing if `loadfile` comes first. `frameDrawn`
// reports the first frame that has reached the scene.
//
// Main thread only. The item does not own the core while playing; `retire`
// hands it over: the item hides, stops the core, waits until mpv has closed
// its video output (so that freeing the render context takes no time), frees
// the context on the thread that made it, and only then terminates the core
// in the background and deletes itself. It moves to the window's root item
// meanwhile, so that its parent may go first.
class MpvVideoItem : public QQuickItem
{
    Q_OBJECT

public:
    MpvVideoItem(MpvCore *core, const QByteArray &file, QQuickItem *parent);
    ~MpvVideoItem() override;

    GalleryRenderPath renderPath() const { return m_path; }
    void retire();
    // Render contexts of all items made and not yet freed; any thread.
    static int renderContextCount();

Q_SIGNALS:
    void frameDrawn();
    // The render context could not be made; nothing will ever show.
    void renderFailed(const QString &reason);

protected:
    QSGNode *updatePaintNode(QSGNode *node, UpdatePaintNodeData *) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    friend struct VideoItemLink;
    void noteFrameDrawn();
    void updateSoftwareTarget();
    void finishRetiring();
    QSGNode *updateOpenGLNode(QSGNode *node);
    QSGNode *updateSoftwareNode(QSGNode *node);

    QPointer<MpvCore> m_core;
    QByteArray m_file;
    GalleryRenderPath m_path;
    std::shared_ptr<VideoItemLink> m_link;
    QThread *m_worker = nullptr;
    SoftwareVideoRenderer *m_software = nullptr;
    bool m_frameReported = false;
    bool m_retiring = false;
};

} // namespace lumivale
