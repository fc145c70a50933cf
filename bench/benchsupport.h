#pragma once

#include <QColor>
#include <QRect>
#include <sys/types.h>

struct xcb_connection_t;

namespace lumivale::bench {

// CPU seconds (user + system) this process has used, all threads included.
double processCpuSeconds();
// The same for another process, from /proc; negative once it is gone.
double processCpuSeconds(pid_t pid);

// The mean colour of an area of the X server's screen, read through a
// connection of the calling thread's own.
class ScreenProbe
{
public:
    ScreenProbe();
    ~ScreenProbe();
    QColor meanColor(const QRect &area);

private:
    xcb_connection_t *m_connection;
};

bool isBlack(const QColor &color);
bool isRed(const QColor &color);
bool isBlue(const QColor &color);

} // namespace lumivale::bench
