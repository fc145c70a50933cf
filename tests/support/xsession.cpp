#include "xsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <cstdlib>
#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

#if defined(__SANITIZE_ADDRESS__)
#endif

namespace lumivale::test {
namespace {

xcb_connection_t *connect(int *screenNumber = nullptr)
{
    xcb_connection_t *connection = xcb_connect(nullptr, screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return connection;
}

QImage grabWith(xcb_connection_t *connection, const QRect &area)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()),
                      int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
        nullptr);
    if (!reply)
        return {};
    // Xvfb at depth 24 uses 32 bits per pixel, BGRX in memory.
    QImage image(xcb_get_image_data(reply), area.width(), area.height(), area.width() * 4,
                 QImage::Format_RGB32);
    QImage copy = image.copy();
    std::free(reply);
    return copy;
}

QColor meanColor(const QImage &image)
{
    if (image.isNull())
        return {};
    qint64 r = 0, g = 0, b = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            r += qRed(pixel);
            g += qGreen(pixel);
            b += qBlue(pixel);
        }
    }
    const qint64 n = qint64(image.width()) * image.height();
    return QColor(int(r / n), int(g / n), int(b / n));
}

bool windowManagerRunning()
{
    xcb_connection_t *connection = connect();
    if (!connection)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
    bool running = false;
    if (atom && atom->atom != XCB_ATOM_NONE) {
        xcb_get_property_reply_t *property = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        running = property && xcb_get_property_value_length(property) == 4;
        std::free(property);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return running;
}

} // namespace

XSession::XSession(QSize size)
{
    // Xvfb picks a free display itself and writes its number to a pipe, so
    // tests running side by side never meet on one display.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    const int writeFd = pipeFds[1];
    m_server.setChildProcessModifier([writeFd] { ::fcntl(writeFd, F_SETFD, 0); });
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.start(u"Xvfb"_s,
                   {u"-displayfd"_s, QString::number(writeFd), u"-screen"_s, u"0"_s,
                    u"%1x%2x24"_s.arg(size.width()).arg(size.height()), u"-nolisten"_s, u"tcp"_s,
                    u"-noreset"_s, u"+extension"_s, u"RANDR"_s, u"+extension"_s, u"GLX"_s});
    ::close(writeFd);
    QByteArray number;
    if (m_server.waitForStarted(5000)) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        char c;
        while (::poll(&readable, 1, 10000) > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number.append(c);
    }
    ::close(pipeFds[0]);
    bool ok = false;
    const int display = number.toInt(&ok);
    if (!ok)
        return;
    qputenv("DISPLAY", ":" + number);
    m_sessionBus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
    if (m_sessionBus.waitForStarted(5000) && m_sessionBus.waitForReadyRead(10000))
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionBus.readLine().trimmed());
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    if (xcb_connection_t *connection = connect()) {
        xcb_disconnect(connection);
        m_display = display;
    }
}

XSession::~XSession()
{
    stopWindowManager();
    if (m_sessionBus.state() != QProcess::NotRunning) {
        // GLib's shared connection raises SIGTERM in this process when its
        // bus goes away; this bus is ours to stop, and the test still runs.
        if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_object_unref(bus);
        }
        m_sessionBus.terminate();
        m_sessionBus.waitForFinished(5000);
    }
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished();
    }
}

bool XSession::startWindowManager()
{
    m_windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
    m_windowManager.start(u"openbox"_s, {u"--sm-disable"_s});
    if (!m_windowManager.waitForStarted(10000)) {
        qWarning("openbox did not start: %s", qPrintable(m_windowManager.errorString()));
        return false;
    }
    // Generous: a loaded CI machine can take a while.
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (windowManagerRunning())
            return true;
        if (m_windowManager.state() == QProcess::NotRunning) {
            qWarning("openbox exited with status %d", m_windowManager.exitCode());
            return false;
        }
        QThread::msleep(20);
    }
    qWarning("openbox did not take over the display within a minute");
    return false;
}

void XSession::stopWindowManager()
{
    if (m_windowManager.state() == QProcess::NotRunning)
        return;
    m_windowManager.terminate();
    if (!m_windowManager.waitForFinished(5000))
        m_windowManager.kill();
    m_windowManager.waitForFinished();
}

QString XSession::run(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(10000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

QImage XSession::grab(const QRect &area)
{
    xcb_connection_t *connection = connect();
    if (!connection)
        return {};
    QImage image = grabWith(connection, area);
    xcb_disconnect(connection);
    return image;
}

QColor XSession::colorAt(const QPoint &point)
{
    return meanColor(grab(QRect(point, QSize(4, 4))));
}

int XSession::inputShapeRectangleCount(quint32 window)
{
    xcb_connection_t *connection = connect();
    if (!connection)
        return -1;
    xcb_shape_get_rectangles_reply_t *reply = xcb_shape_get_rectangles_reply(
        connection, xcb_shape_get_rectangles(connection, window, XCB_SHAPE_SK_INPUT), nullptr);
    const int count = reply ? int(reply->rectangles_len) : -1;
    std::free(reply);
    xcb_disconnect(connection);
    return count;
}

ScreenSampler::ScreenSampler(const QRect &area)
    : m_area(area)
{}

ScreenSampler::~ScreenSampler()
{
    stop();
}

void ScreenSampler::start()
{
    m_samples.clear();
    m_running = true;
    m_thread = std::thread([this] {
        xcb_connection_t *connection = connect();
        if (!connection)
            return;
        QElapsedTimer clock;
        clock.start();
        while (m_running) {
            const QColor color = meanColor(grabWith(connection, m_area));
            m_samples.append(Sample{clock.elapsed(), color});
            QThread::usleep(2000);
        }
        xcb_disconnect(connection);
    });
}

QList<ScreenSampler::Sample> ScreenSampler::stop()
{
    if (m_thread.joinable()) {
        m_running = false;
        m_thread.join();
    }
    return m_samples;
}

Hue classify(const QColor &color)
{
    const int r = color.red(), g = color.green(), b = color.blue();
    if (r < 40 && g < 40 && b < 40)
        return Hue::Black;
    if (r > 180 && g < 60 && b < 60)
        return Hue::Red;
    if (g > 90 && r < 60 && b < 60)
        return Hue::Green;
    if (b > 180 && r < 60 && g < 60)
        return Hue::Blue;
    return Hue::Other;
}

char *toString(Hue hue)
{
    return qstrdup(hueName(hue));
}

const char *hueName(Hue hue)
{
    switch (hue) {
    case Hue::Black:
        return "black";
    case Hue::Red:
        return "red";
    case Hue::Green:
        return "green";
    case Hue::Blue:
        return "blue";
    case Hue::Other:
        return "other";
    }
    return "?";
}

} // namespace lumivale::test
