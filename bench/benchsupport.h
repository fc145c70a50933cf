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

// This process's resident memory in MiB, from /proc; negative if unreadable.
double residentMegabytes();

// Runs the event loop for `ms`, sleeping while nothing happens, so that the
// measurement itself costs nothing.
void spin(int ms);
// Share of one core that this process used over `ms` of wall time.
double ownCpuOver(int ms);

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
