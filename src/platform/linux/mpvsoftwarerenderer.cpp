#include "mpvsoftwarerenderer.h"

#include <cstdlib>
#include <mpv/client.h>
#include <mpv/render.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

// Enough for mpv to run its pipeline for a layer nobody sees.
constexpr QSize kHiddenSize(64, 64);

// 64-byte rows and pixels let mpv's converters take their fast paths.
size_t strideFor(int width)
{
    return (size_t(width) * 4 + 63) & ~size_t(63);
}

// mpv's name for a 32-bit true-colour layout with 8 bits a channel.
QByteArray formatFor(const xcb_visualtype_t &visual, uint8_t bitsPerPixel, uint8_t byteOrder)
{
    if (visual._class != XCB_VISUAL_CLASS_TRUE_COLOR || bitsPerPixel != 32 ||
        visual.green_mask != 0xff00)
        return {};
    const bool leastFirst = byteOrder == XCB_IMAGE_ORDER_LSB_FIRST;
    if (visual.red_mask == 0xff0000 && visual.blue_mask == 0xff)
        return leastFirst ? "bgr0" : "0rgb";
    if (visual.red_mask == 0xff && visual.blue_mask == 0xff0000)
        return leastFirst ? "rgb0" : "0bgr";
    return {};
}

} // namespace

MpvSoftwareRenderer::MpvSoftwareRenderer() = default;

MpvSoftwareRenderer::~MpvSoftwareRenderer() = default;

bool MpvSoftwareRenderer::begin()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    if (m_connectFailed || m_connection)
        return false;
    if (!connectToServer()) {
        m_connectFailed = true;
        qWarning("video playback failed: the desktop windows' pixels have no layout mpv draws");
        return false;
    }
    return true;
}

bool MpvSoftwareRenderer::connectToServer()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return false;
    // The desktop windows have their screen's default visual.
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
    const xcb_visualtype_t *visual = nullptr;
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem && !visual;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen->root_visual) {
                visual = visuals.data;
                m_depth = depths.data->depth;
                break;
            }
        }
    }
    if (!visual)
        return false;
    uint8_t bitsPerPixel = 0;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem;
         xcb_format_next(&formats)) {
        if (formats.data->depth == m_depth)
            bitsPerPixel = formats.data->bits_per_pixel;
    }
    m_format = formatFor(*visual, bitsPerPixel, setup->image_byte_order);
    if (m_format.isEmpty())
        return false;

    m_gc = xcb_generate_id(m_connection);
    xcb_create_gc(m_connection, m_gc, screen->root, 0, nullptr);
    xcb_shm_query_version_reply_t *shm =
        xcb_shm_query_version_reply(m_connection, xcb_shm_query_version(m_connection), nullptr);
    m_hasShm = shm && !qEnvironmentVariableIsSet("LUMIVALE_NO_SHM");
    std::free(shm);
    m_maxRequestBytes = xcb_get_maximum_request_length(m_connection) * 4;
    return true;
}

mpv_render_context *MpvSoftwareRenderer::createContext(mpv_handle *mpv)
{
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context *context = nullptr;
    return mpv_render_context_create(&context, mpv, params) < 0 ? nullptr : context;
}

bool MpvSoftwareRenderer::allocate(Buffer &buffer, QSize size, bool shared)
{
    release(buffer);
    const size_t stride = strideFor(size.width());
    const size_t bytes = stride * size_t(size.height());
    if (shared) {
        buffer.shmID = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        void *address =
            buffer.shmID < 0 ? reinterpret_cast<void *>(-1) : shmat(buffer.shmID, nullptr, 0);
        xcb_generic_error_t *error = nullptr;
        if (address != reinterpret_cast<void *>(-1)) {
            buffer.segment = xcb_generate_id(m_connection);
            error = xcb_request_check(
                m_connection, xcb_shm_attach_checked(m_connection, buffer.segment,
                                                     uint32_t(buffer.shmID), /*read_only*/ 1));
        }
        // Marked for removal now: the segment goes once both sides detach,
        // also if this process dies.
        if (buffer.shmID >= 0)
            shmctl(buffer.shmID, IPC_RMID, nullptr);
        if (address != reinterpret_cast<void *>(-1) && !error) {
            buffer.pixels = static_cast<uint8_t *>(address);
        } else {
            // A server on another machine, or one that refuses: plain requests.
            std::free(error);
            if (address != reinterpret_cast<void *>(-1))
                shmdt(address);
            buffer.shmID = -1;
            m_hasShm = false;
        }
    }
    if (!buffer.pixels) {
        buffer.shmID = -1;
        buffer.pixels = static_cast<uint8_t *>(std::aligned_alloc(64, bytes));
        if (!buffer.pixels)
            return false;
    }
    buffer.size = size;
    buffer.stride = stride;
    return true;
}

void MpvSoftwareRenderer::release(Buffer &buffer)
{
    if (!buffer.pixels)
        return;
    if (buffer.shmID >= 0) {
        xcb_shm_detach(m_connection, buffer.segment);
        shmdt(buffer.pixels);
    } else {
        std::free(buffer.pixels);
    }
    buffer = Buffer{};
}

bool MpvSoftwareRenderer::renderInto(Source &source, Buffer &buffer)
{
    int size[2] = {buffer.size.width(), buffer.size.height()};
    size_t stride = buffer.stride;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, size},      {MPV_RENDER_PARAM_SW_FORMAT, m_format.data()},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, buffer.pixels},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_render(source.context, params) < 0)
        return false;
    buffer.serial = source.serial;
    noteRendered(source);
    return true;
}

void MpvSoftwareRenderer::drawHidden(Source &source)
{
    // Only a sign of life for mpv: nobody looks at it.
    if ((!m_hidden.pixels && !allocate(m_hidden, kHiddenSize, false)) ||
        !renderInto(source, m_hidden))
        source.newFrame = false;
}

const MpvSoftwareRenderer::Buffer *MpvSoftwareRenderer::picture(Source &source, QSize size)
{
    Buffer &picture = m_pictures[{source.id, size.width(), size.height()}];
    if (!picture.pixels && !allocate(picture, size, m_hasShm))
        return nullptr;
    // An expose, or another window of the same size, takes the picture as it is.
    if (picture.serial != source.serial && !renderInto(source, picture))
        return nullptr;
    return &picture;
}

void MpvSoftwareRenderer::drawPicture(Source &source, QSize size)
{
    if (!picture(source, size))
        source.newFrame = false;
}

void MpvSoftwareRenderer::keepPictures(const std::set<std::tuple<int, int, int>> &wanted)
{
    for (auto it = m_pictures.begin(); it != m_pictures.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        release(it->second);
        it = m_pictures.erase(it);
    }
}

void MpvSoftwareRenderer::drawToTargets(Source *source, QSize size,
                                        const std::vector<Target *> &targets)
{
    if (!source) {
        // The windows' background is black.
        for (const Target *target : targets)
            xcb_clear_area(m_connection, 0, target->nativeWindow, 0, 0, 0, 0);
        xcb_flush(m_connection);
        return;
    }
    const Buffer *picture = this->picture(*source, size);
    if (!picture)
        return;
    for (const Target *target : targets)
        put(*picture, target->nativeWindow);
    // A round trip: once answered, the server has read the picture, and the
    // next frame may be rendered over it.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    // Errors (a window already gone) arrive as events nobody else reads.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
    mpv_render_context_report_swap(source->context);
}

void MpvSoftwareRenderer::put(const Buffer &picture, uint32_t window)
{
    const uint16_t totalWidth = uint16_t(picture.stride / 4);
    const QSize size = picture.size;
    if (picture.shmID >= 0) {
        xcb_shm_put_image(m_connection, window, m_gc, totalWidth, uint16_t(size.height()), 0, 0,
                          uint16_t(size.width()), uint16_t(size.height()), 0, 0, m_depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, picture.segment, 0);
        return;
    }
    // In bands of rows that fit the server's largest request.
    const int rowsPerRequest =
        std::max(1, int((m_maxRequestBytes - 64) / uint32_t(picture.stride)));
    for (int y = 0; y < size.height(); y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, size.height() - y);
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, m_gc, totalWidth,
                      uint16_t(rows), 0, int16_t(y), 0, m_depth,
                      uint32_t(size_t(rows) * picture.stride),
                      picture.pixels + size_t(y) * picture.stride);
    }
}

void MpvSoftwareRenderer::releaseResources()
{
    if (!m_connection)
        return;
    for (auto &[size, picture] : m_pictures)
        release(picture);
    m_pictures.clear();
    release(m_hidden);
    if (m_gc)
        xcb_free_gc(m_connection, m_gc);
    xcb_disconnect(std::exchange(m_connection, nullptr));
}

} // namespace lumivale
