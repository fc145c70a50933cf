#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace lumivale {

// This process's own resource use, for the status menu's meters.
//
// CPU: Linux keeps no "current usage" figure per thread, so the figure is the
// process's CPU time (all threads, exited ones included) since the previous
// measurement over the wall time since then, as a percentage of one core; the
// first measurement counts from the process's start. Several busy threads can
// make it exceed 100.
//
// Memory: the footprint, the anonymous resident memory plus what was swapped
// out ("RssAnon" + "VmSwap" of /proc/self/status): the memory this process
// costs the system, without shared libraries and mapped files.
//
// Each measurement reads two clocks and one small /proc file: well under a
// millisecond. Not thread-safe; the menu measures on the main thread. Tests
// give the meters their own clocks through a SampleSource.
class ProcessMeters
{
public:
    struct Sample
    {
        qint64 cpuNs = 0;  // process CPU time
        qint64 wallNs = 0; // boot-time clock
    };

    // Reads both clocks at once; nothing when either cannot be read.
    using SampleSource = std::function<std::optional<Sample>()>;

    // The process's own clocks; the first interval counts from its start.
    ProcessMeters();
    // `source` instead, the first interval counting from `start`.
    ProcessMeters(SampleSource source, std::optional<Sample> start);

    // "3.5%", or "--" when the clocks cannot be read.
    QString cpuUsageText();
    // Bytes, or nothing when /proc cannot be read.
    static std::optional<qint64> footprintBytes();
    // "RAM" and "Cache" values: decimal units, one decimal ("84.2 MB").
    static QString formatBytes(qint64 bytes);

    // The percentage between two samples; nothing when no time has passed.
    static std::optional<double> cpuPercent(const Sample &from, const Sample &to);
    // The footprint from the text of a /proc/<pid>/status file.
    static std::optional<qint64> footprintFromStatus(QByteArrayView status);

    static std::optional<Sample> sampleNow();

private:
    SampleSource m_source;
    std::optional<Sample> m_previous;
};

} // namespace lumivale
