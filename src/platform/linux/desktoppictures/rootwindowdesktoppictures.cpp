#include "rootwindowdesktoppictures.h"

#include "desktoppicturesbackend.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

using namespace desktoppictureserrors;

template<typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template<typename T> Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}

// One short connection to the display, with what the backend needs of it.
class Display
{
public:
    explicit Display(const QByteArray &name)
    {
        int screenNumber = 0;
        m_connection = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem)
            return;
        m_screen = it.data;
        // Pixels travel as 32-bit little-endian words, as QImage::Format_RGB32
        // holds them; other layouts are left alone.
        bool thirtyTwoBits = false;
        for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
            if (f.data->depth == m_screen->root_depth)
                thirtyTwoBits = f.data->bits_per_pixel == 32;
        }
        m_usable = thirtyTwoBits && setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST &&
                   m_screen->root_depth >= 24;
        m_rootPixmapAtom = atom("_XROOTPMAP_ID");
        m_setRootAtom = atom("ESETROOT_PMAP_ID");
    }
    ~Display() { xcb_disconnect(m_connection); }
    Display(const Display &) = delete;
    Display &operator=(const Display &) = delete;

    bool isUsable() const { return m_screen && m_usable; }
    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const { return m_screen->root; }
    QSize size() const { return QSize(m_screen->width_in_pixels, m_screen->height_in_pixels); }
    uint8_t depth() const { return m_screen->root_depth; }
    xcb_atom_t rootPixmapAtom() const { return m_rootPixmapAtom; }
    xcb_atom_t setRootAtom() const { return m_setRootAtom; }

    xcb_pixmap_t pixmapProperty(xcb_atom_t property) const
    {
        auto value = reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, root(), property, XCB_ATOM_PIXMAP, 0, 1), nullptr));
        if (!value || value->format != 32 || xcb_get_property_value_length(value.get()) != 4)
            return XCB_NONE;
        return *static_cast<xcb_pixmap_t *>(xcb_get_property_value(value.get()));
    }

    // A part of a pixmap, or a null image when the pixmap is gone.
    QImage grab(xcb_pixmap_t pixmap, const QRect &area) const
    {
        auto image = reply(xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, int16_t(area.x()),
                          int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
            nullptr));
        if (!image || area.height() <= 0)
            return {};
        const int length = xcb_get_image_data_length(image.get());
        const int stride = length / area.height();
        if (stride < area.width() * 4)
            return {};
        QImage result(area.size(), QImage::Format_RGB32);
        const uint8_t *data = xcb_get_image_data(image.get());
        for (int y = 0; y < area.height(); ++y)
            std::memcpy(result.scanLine(y), data + qsizetype(y) * stride, size_t(area.width()) * 4);
        return result;
    }

    // Uploads `image` in pieces that fit the server's request size.
    void put(xcb_pixmap_t pixmap, xcb_gcontext_t gc, const QImage &image) const
    {
        const uint32_t maxBytes = xcb_get_maximum_request_length(m_connection) * 4 - 64;
        const int rowBytes = image.width() * 4;
        const int rowsPerPiece = std::max(1, int(maxBytes / uint32_t(rowBytes)));
        for (int y = 0; y < image.height(); y += rowsPerPiece) {
            const int rows = std::min(rowsPerPiece, image.height() - y);
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc,
                          uint16_t(image.width()), uint16_t(rows), 0, int16_t(y), 0, depth(),
                          uint32_t(rows * rowBytes), image.constScanLine(y));
        }
    }

private:
    xcb_atom_t atom(const char *name) const
    {
        auto value = reply(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr));
        return value ? value->atom : XCB_NONE;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_screen_t *m_screen = nullptr;
    bool m_usable = false;
    xcb_atom_t m_rootPixmapAtom = XCB_NONE;
    xcb_atom_t m_setRootAtom = XCB_NONE;
};

QString fileSafe(const QString &name)
{
    QString safe;
    for (const QChar c : name)
        safe += c.isLetterOrNumber() ? c : u'-';
    return safe;
}

void drawPicture(QImage &canvas, const QImage &picture, const QRect &frame, const QString &mode)
{
    QPainter painter(&canvas);
    painter.setClipRect(frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (mode == QStringLiteral("tile")) {
        painter.setBrushOrigin(frame.topLeft());
        painter.fillRect(frame, QBrush(picture));
        return;
    }
    painter.fillRect(frame, Qt::black);
    QSize size = picture.size();
    if (mode == QStringLiteral("fill"))
        size.scale(frame.size(), Qt::KeepAspectRatioByExpanding);
    else if (mode == QStringLiteral("fit"))
        size.scale(frame.size(), Qt::KeepAspectRatio);
    else if (mode == QStringLiteral("stretch"))
        size = frame.size();
    QRect target(QPoint(), size);
    target.moveCenter(frame.center());
    painter.drawImage(target, picture);
}

} // namespace

RootWindowDesktopPictures::RootWindowDesktopPictures(QByteArray displayName,
                                                     DesktopPictureRecord record)
    : m_displayName(std::move(displayName))
    , m_record(std::move(record))
{}

std::optional<DesktopPictureRecord::Entry>
RootWindowDesktopPictures::currentEntry(const Screen &screen) const
{
    Display display(m_displayName);
    if (!display.isUsable())
        return std::nullopt;
    const xcb_pixmap_t shown = display.pixmapProperty(display.rootPixmapAtom());
    if (shown == XCB_NONE)
        return std::nullopt;
    std::optional<DesktopPictureRecord::Entry> ours = m_record.entry(screen.name);
    if (ours && ours->marker == QString::number(shown))
        return ours;

    // Someone else's picture: keep its pixels, the only form the server has.
    const QImage pixels =
        display.grab(shown, screen.frame.intersected(QRect(QPoint(), display.size())));
    if (pixels.isNull())
        return std::nullopt;
    const QString path = QFileInfo(m_record.filePath()).path() +
                         QStringLiteral("/PreviousDesktop-%1.png").arg(fileSafe(screen.name));
    QDir().mkpath(QFileInfo(path).path());
    if (!pixels.save(path, "png"))
        return std::nullopt;
    return DesktopPictureRecord::Entry{path, {{kModeKey, QStringLiteral("fill")}}};
}

std::optional<QUrl> RootWindowDesktopPictures::desktopImageURL(const Screen &screen) const
{
    const auto entry = currentEntry(screen);
    return entry ? std::optional(QUrl::fromLocalFile(entry->path)) : std::nullopt;
}

QVariantMap RootWindowDesktopPictures::desktopImageOptions(const Screen &screen) const
{
    const auto entry = currentEntry(screen);
    return entry ? entry->options : QVariantMap();
}

Result<> RootWindowDesktopPictures::setDesktopImage(const QUrl &image, const Screen &screen,
                                                    const QVariantMap &options)
{
    const QString mode = options.value(kModeKey, QStringLiteral("fill")).toString();
    if (!isBackgroundMode(mode))
        return make(kInvalidOption, QStringLiteral("\"%1\" is not a picture mode").arg(mode));
    if (!image.isLocalFile())
        return make(kInvalidImage,
                    QStringLiteral("\"%1\" is not a local picture file").arg(image.toString()));
    QImageReader reader(image.toLocalFile());
    reader.setAutoTransform(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        return make(kInvalidImage, QStringLiteral("Cannot read the picture \"%1\": %2")
                                       .arg(image.toLocalFile(), reader.errorString()));

    Display display(m_displayName);
    if (!display.isUsable())
        return make(kUnsupported, QStringLiteral("Cannot draw on this X display's root window"));
    xcb_connection_t *c = display.connection();
    const QRect rootArea(QPoint(), display.size());
    if (!rootArea.intersects(screen.frame))
        return make(kNoSuchScreen,
                    QStringLiteral("The screen %1 is outside the display").arg(screen.name));

    // Other screens keep their part of the present picture.
    const xcb_pixmap_t previous = display.pixmapProperty(display.rootPixmapAtom());
    const xcb_pixmap_t previousSetRoot = display.pixmapProperty(display.setRootAtom());
    QImage canvas = previous != XCB_NONE ? display.grab(previous, rootArea) : QImage();
    if (canvas.isNull()) {
        canvas = QImage(rootArea.size(), QImage::Format_RGB32);
        canvas.fill(Qt::black);
    }
    drawPicture(canvas, picture.convertToFormat(QImage::Format_RGB32), screen.frame, mode);

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    const xcb_void_cookie_t created =
        xcb_create_pixmap_checked(c, display.depth(), pixmap, display.root(),
                                  uint16_t(canvas.width()), uint16_t(canvas.height()));
    if (auto failure = reply(xcb_request_check(c, created)))
        return make(kDesktopFailed,
                    QStringLiteral("The X server has no room for the desktop picture"));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    display.put(pixmap, gc, canvas);
    xcb_free_gc(c, gc);

    for (const xcb_atom_t property : {display.rootPixmapAtom(), display.setRootAtom()}) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, display.root(), property, XCB_ATOM_PIXMAP, 32,
                            1, &pixmap);
    }
    xcb_change_window_attributes(c, display.root(), XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, display.root(), 0, 0, 0, 0);
    // The previous setter left its pixmap behind for us to free, by convention
    // only when both properties name it.
    if (previous != XCB_NONE && previous == previousSetRoot)
        xcb_kill_client(c, previous);
    // Our pixmap must outlive this connection.
    xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    auto sync = reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!sync)
        return make(kDesktopFailed, QStringLiteral("The X server closed the connection"));

    QVariantMap recorded = options;
    recorded.insert(kModeKey, mode);
    // The other screens' parts were copied into the new pixmap: what we set
    // there is still what they show.
    if (!m_record.setEntry(screen.name, {image.toLocalFile(), recorded, QString::number(pixmap)},
                           previous == XCB_NONE ? QString() : QString::number(previous))) {
        return make(kDesktopFailed,
                    QStringLiteral("The picture is set, but Lumivale cannot note it in %1")
                        .arg(m_record.filePath()));
    }
    return {};
}

} // namespace lumivale
