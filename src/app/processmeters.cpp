#include "processmeters.h"

#include <QByteArray>
#include <QLocale>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace lumivale {
namespace {

std::optional<qint64> clockNs(clockid_t clock)
{
    timespec now{};
    if (clock_gettime(clock, &now) != 0)
        return std::nullopt;
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Reads a small /proc file whole with plain system calls: QFile would cost
// more than the measurement.
QByteArray readProcFile(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray content(4096, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == content.size())
            content.resize(content.size() * 2);
        const ssize_t got = ::read(fd, content.data() + used, size_t(content.size() - used));
        if (got <= 0)
            break;
        used += got;
    }
    ::close(fd);
    content.truncate(used);
    return content;
}

// The process's start on the boot-time clock, from field 22 of
// /proc/self/stat (clock ticks since boot).
std::optional<qint64> processStartNs()
{
    const QByteArray stat = readProcFile("/proc/self/stat");
    // The command name may hold spaces and parentheses; fields restart after
    // the last ')'.
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    // Field 3 (state) is the first after the name; field 22 is index 19.
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    const qulonglong ticks = fields[19].toULongLong(&ok);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!ok || ticksPerSecond <= 0)
        return std::nullopt;
    return qint64(ticks) * (1'000'000'000 / ticksPerSecond);
}

} // namespace

ProcessMeters::ProcessMeters()
    : ProcessMeters(&ProcessMeters::sampleNow, std::nullopt)
{
    if (const auto start = processStartNs())
        m_previous = Sample{0, *start};
}

ProcessMeters::ProcessMeters(SampleSource source, std::optional<Sample> start)
    : m_source(std::move(source))
    , m_previous(start)
{}

std::optional<ProcessMeters::Sample> ProcessMeters::sampleNow()
{
    const auto cpu = clockNs(CLOCK_PROCESS_CPUTIME_ID);
    const auto wall = clockNs(CLOCK_BOOTTIME);
    if (!cpu || !wall)
        return std::nullopt;
    return Sample{*cpu, *wall};
}

std::optional<double> ProcessMeters::cpuPercent(const Sample &from, const Sample &to)
{
    const qint64 wall = to.wallNs - from.wallNs;
    if (wall <= 0)
        return std::nullopt;
    return 100.0 * double(qMax<qint64>(0, to.cpuNs - from.cpuNs)) / double(wall);
}

QString ProcessMeters::cpuUsageText()
{
    const auto now = m_source();
    if (!now)
        return QStringLiteral("--");
    const auto from = std::exchange(m_previous, now);
    // Without a start time, or when the menu is opened twice within one tick
    // of the clock, there is no interval to speak of.
    const double percent = from ? cpuPercent(*from, *now).value_or(0.0) : 0.0;
    return QString::asprintf("%.1f%%", percent);
}

std::optional<qint64> ProcessMeters::footprintFromStatus(QByteArrayView status)
{
    std::optional<qint64> anonymousKiB;
    qint64 swapKiB = 0;
    for (const QByteArrayView line :
         QByteArray::fromRawData(status.data(), status.size()).split('\n')) {
        const auto valueOf = [&](QByteArrayView key) -> std::optional<qint64> {
            if (!line.startsWith(key))
                return std::nullopt;
            QByteArrayView rest = line.sliced(key.size()).trimmed();
            if (!rest.endsWith("kB"))
                return std::nullopt;
            bool ok = false;
            const qint64 value = rest.chopped(2).trimmed().toLongLong(&ok);
            return ok && value >= 0 ? std::optional(value) : std::nullopt;
        };
        if (const auto value = valueOf("RssAnon:"))
            anonymousKiB = value;
        else if (const auto swap = valueOf("VmSwap:"))
            swapKiB = *swap;
    }
    if (!anonymousKiB)
        return std::nullopt;
    return (*anonymousKiB + swapKiB) * 1024;
}

std::optional<qint64> ProcessMeters::footprintBytes()
{
    const QByteArray status = readProcFile("/proc/self/status");
    if (status.isEmpty())
        return std::nullopt;
    return footprintFromStatus(status);
}

QString ProcessMeters::formatBytes(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace lumivale
