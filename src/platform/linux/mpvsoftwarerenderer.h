#pragma once

#include "mpvrenderer.h"

#include <QByteArray>
#include <cstdint>

struct xcb_connection_t;

namespace lumivale {

// mpv's software renderer for the desktop windows, for where OpenGL itself is
// software and drawing through it costs several times what the conversion
// alone does. Each frame is rendered once per window size, in the pixel
// layout of the window's visual (no conversion after mpv's), into memory the
// X server shares (MIT-SHM), and put on the windows from there; where the
// server offers no shared memory (or LUMIVALE_NO_SHM is set), the frame goes
// in plain PutImage requests.
// An expose with no new frame puts the last picture again without rendering.
//
// Uses an X connection of its own, opened on the render thread; the windows
// are Qt's. Every window has the screen's default visual; one the renderer
// has no layout for (not 32 bits per pixel, true colour, 8 bits a channel)
// fails every source (`sourceFailed`).
class MpvSoftwareRenderer : public DesktopLayerRenderer
{
    Q_OBJECT

public:
    MpvSoftwareRenderer();
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
    void drawHidden(Source &source) override;
    void drawPicture(Source &source, QSize size) override;
    void drawToTargets(Source *source, QSize size, const std::vector<Target *> &targets) override;
    void keepPictures(const std::set<std::tuple<int, int, int>> &wanted) override;
    void releaseResources() override;

private:
    struct Buffer
    {
        QSize size;
        size_t stride = 0;
        uint8_t *pixels = nullptr;
        int shmID = -1;       // -1: plain memory
        uint32_t segment = 0; // the server's name for the shared segment
        quint64 serial = 0;   // of the source's frame it holds; 0: none
    };
    bool connectToServer();
    bool allocate(Buffer &buffer, QSize size, bool shared);
    void release(Buffer &buffer);
    bool renderInto(Source &source, Buffer &buffer);
    // The source's picture of `size`, rendered if not current; null on failure.
    const Buffer *picture(Source &source, QSize size);
    void put(const Buffer &buffer, uint32_t window);

    xcb_connection_t *m_connection = nullptr;
    bool m_connectFailed = false;
    bool m_hasShm = false;
    uint32_t m_gc = 0;
    uint8_t m_depth = 0;
    QByteArray m_format; // mpv's name for the visual's pixel layout
    uint32_t m_maxRequestBytes = 0;
    std::map<std::tuple<int, int, int>, Buffer> m_pictures; // by source, width and height
    Buffer m_hidden;
};

} // namespace lumivale
