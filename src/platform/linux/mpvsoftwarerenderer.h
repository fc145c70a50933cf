#pragma once

#include "mpvrenderer.h"

#include <QByteArray>
#include <cstdint>

struct xcb_connection_t;

namespace lumivale {

// mpv's software renderer for a desktop window, for where OpenGL itself is
// software and drawing through it costs several times what the conversion
// alone does. Each frame is rendered at the window's size, in the pixel
// layout of the window's visual (no conversion after mpv's), into memory the
// X server shares (MIT-SHM), and put on the window from there; where the
// server offers no shared memory (or LUMIVALE_NO_SHM is set), the frame goes
// in plain PutImage requests.
// An expose with no new frame puts the last picture again without rendering.
//
// Uses an X connection of its own, opened on the render thread; the window
// is Qt's and must outlive the renderer. A visual the renderer has no layout
// for (not 32 bits per pixel, true colour, 8 bits a channel) fails every
// layer (`layerFailed`).
class MpvSoftwareRenderer : public DesktopLayerRenderer
{
    Q_OBJECT

public:
    explicit MpvSoftwareRenderer(uint32_t window);
    ~MpvSoftwareRenderer() override;

    // The options that make mpv's software renderer cheap and keep the
    // picture right, for the cores drawn here (name, value): no dithering and
    // the fast scalers, since a wallpaper fills its screen from a video of
    // about its size, where the slow filters buy nothing visible.
    static constexpr const char *kCoreOptions[][2] = {
        {"sws-fast", "yes"},   {"sws-scaler", "fast-bilinear"}, {"zimg-fast", "yes"},
        {"zimg-dither", "no"}, {"zimg-scaler", "bilinear"},     {"dither", "no"},
    };

protected:
    bool begin() override;
    mpv_render_context *createContext(mpv_handle *mpv) override;
    void drawHidden(Layer &layer) override;
    void drawToWindow(Layer *layer, bool freshFrame) override;
    void releaseResources() override;

private:
    struct Buffer
    {
        QSize size;
        size_t stride = 0;
        uint8_t *pixels = nullptr;
        int shmID = -1;       // -1: plain memory
        uint32_t segment = 0; // the server's name for the shared segment
    };
    bool connectToServer();
    bool allocate(Buffer &buffer, QSize size, bool shared);
    void release(Buffer &buffer);
    bool renderInto(Layer &layer, Buffer &buffer);
    void put();

    uint32_t m_window;
    xcb_connection_t *m_connection = nullptr;
    bool m_connectFailed = false;
    bool m_hasShm = false;
    uint32_t m_gc = 0;
    uint8_t m_depth = 0;
    QByteArray m_format; // mpv's name for the visual's pixel layout
    uint32_t m_maxRequestBytes = 0;
    Buffer m_picture;
    Buffer m_hidden;
    int m_bufferLayer = -1; // whose picture the window buffer holds; -1: none
};

} // namespace lumivale
