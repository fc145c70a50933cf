#include "benchsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <xcb/xcb.h>

namespace lumivale::bench {

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return -1;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double ownCpuOver(int ms)
{
    const double before = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    spin(ms);
    return (processCpuSeconds() - before) / (double(wall.nsecsElapsed()) / 1e9);
}

double processCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

ScreenProbe::ScreenProbe()
    : m_connection(xcb_connect(nullptr, nullptr))
{}

ScreenProbe::~ScreenProbe()
{
    xcb_disconnect(m_connection);
}

QColor ScreenProbe::meanColor(const QRect &area)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()),
                      int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
        nullptr);
    if (!reply)
        return {};
    const auto *pixels = reinterpret_cast<const quint32 *>(xcb_get_image_data(reply));
    const int count = area.width() * area.height();
    qint64 r = 0, g = 0, b = 0;
    for (int i = 0; i < count; ++i) {
        r += (pixels[i] >> 16) & 0xff;
        g += (pixels[i] >> 8) & 0xff;
        b += pixels[i] & 0xff;
    }
    std::free(reply);
    return QColor(int(r / count), int(g / count), int(b / count));
}

bool isBlack(const QColor &c)
{
    return c.red() < 40 && c.green() < 40 && c.blue() < 40;
}

bool isRed(const QColor &c)
{
    return c.red() > 180 && c.green() < 60 && c.blue() < 60;
}

bool isBlue(const QColor &c)
{
    return c.blue() > 180 && c.red() < 60 && c.green() < 60;
}

} // namespace lumivale::bench
