#include "xsession.h"

#include "desktopsession.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <gio/gio.h>
#include <memory>
#include <xcb/shape.h>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace lumivale::test {
namespace {

using Connection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

Connection connect()
{
    Connection connection(xcb_connect(nullptr, nullptr), xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        connection.reset();
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
    // Xvfb at depth 24 uses 32 bits per pixel, BGRX in memory. The image
    // frees the reply.
    return QImage(xcb_get_image_data(reply), area.width(), area.height(), area.width() * 4,
                  QImage::Format_RGB32, std::free, reply);
}

// Qt's smooth scaling averages every pixel a target pixel covers.
QColor meanColor(const QImage &image)
{
    if (image.isNull())
        return {};
    return image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}

} // namespace

XSession::XSession(QSize size)
{
    // Xvfb picks a free display itself and writes its number to its standard
    // output, so tests running side by side never meet on one display.
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithThisProcess(m_server);
    m_server.start(u"Xvfb"_s,
                   {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s,
                    u"%1x%2x24"_s.arg(size.width()).arg(size.height()), u"-nolisten"_s, u"tcp"_s,
                    u"-noreset"_s, u"+extension"_s, u"RANDR"_s, u"+extension"_s, u"GLX"_s});
    while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) {
    }
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty())
        return;
    qputenv("DISPLAY", ":" + number);
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            m_sessionBus.address().isEmpty() ? "disabled:" : m_sessionBus.address().toUtf8());
    m_running = connect() != nullptr;
}

XSession::~XSession()
{
    stopWindowManager();
    // GLib's shared connection raises SIGTERM in this process when its bus
    // goes away; this bus is ours to stop (with the object), and the test
    // still runs.
    if (!m_sessionBus.address().isEmpty()) {
        if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_object_unref(bus);
        }
    }
    endProcess(m_server);
}

bool XSession::startWindowManager()
{
    m_windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
    endWithThisProcess(m_windowManager);
    m_windowManager.start(u"openbox"_s, {u"--sm-disable"_s});
    if (!m_windowManager.waitForStarted(10000)) {
        qWarning("openbox did not start: %s", qPrintable(m_windowManager.errorString()));
        return false;
    }
    // Generous: a loaded CI machine can take a while.
    blockUntil(
        [this] {
            return m_windowManager.state() == QProcess::NotRunning ||
                   DesktopPrograms::windowManagerRuns();
        },
        60000, 50);
    if (DesktopPrograms::windowManagerRuns())
        return true;
    qWarning("openbox did not take over the display: %s",
             m_windowManager.state() == QProcess::NotRunning ? "it exited" : "a minute passed");
    return false;
}

void XSession::stopWindowManager()
{
    endProcess(m_windowManager);
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

bool XSession::succeeds(const QString &program, const QStringList &arguments)
{
    int exitCode = -1;
    const QString output = run(program, arguments, &exitCode);
    if (exitCode != 0)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(u' ')),
                 qPrintable(output));
    return exitCode == 0;
}

QImage XSession::grab(const QRect &area)
{
    const Connection connection = connect();
    return connection ? grabWith(connection.get(), area) : QImage();
}

QColor XSession::colorAt(const QPoint &point)
{
    return meanColor(grab(QRect(point, QSize(4, 4))));
}

int XSession::inputShapeRectangleCount(quint32 window)
{
    const Connection connection = connect();
    if (!connection)
        return -1;
    xcb_shape_get_rectangles_reply_t *reply = xcb_shape_get_rectangles_reply(
        connection.get(), xcb_shape_get_rectangles(connection.get(), window, XCB_SHAPE_SK_INPUT),
        nullptr);
    const int count = reply ? int(reply->rectangles_len) : -1;
    std::free(reply);
    return count;
}

ScreenSampler::ScreenSampler(const QRect &area)
{
    m_thread = std::thread([this, area] {
        const Connection connection = connect();
        if (!connection)
            return;
        QElapsedTimer clock;
        clock.start();
        while (m_running) {
            const QColor color = meanColor(grabWith(connection.get(), area));
            m_samples.append(Sample{clock.elapsed(), color});
            QThread::usleep(2000);
        }
    });
}

ScreenSampler::~ScreenSampler()
{
    stop();
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

} // namespace lumivale::test
