#include "app/processmeters.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <thread>

using namespace lumivale;

class TestProcessMeters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cpuIsTimeOverWallTime()
    {
        using Sample = ProcessMeters::Sample;
        QCOMPARE(ProcessMeters::cpuPercent({0, 0}, {500'000'000, 1'000'000'000}),
                 std::optional(50.0));
        // Two busy cores read above one core's worth.
        QCOMPARE(ProcessMeters::cpuPercent({0, 0}, {2'000'000'000, 1'000'000'000}),
                 std::optional(200.0));
        // No time passed: nothing to say; the clock never makes it negative.
        QCOMPARE(ProcessMeters::cpuPercent(Sample{5, 10}, Sample{5, 10}), std::nullopt);
        QCOMPARE(ProcessMeters::cpuPercent(Sample{9, 0}, Sample{5, 10}), std::optional(0.0));
    }

    void cpuTextFollowsTheWork()
    {
        ProcessMeters meters;
        QVERIFY(
            meters.cpuUsageText().contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d%$"))));
        // A busy thread between two measurements shows; an idle stretch reads
        // lower than the busy one.
        std::atomic_bool stop = false;
        std::thread busy([&stop] {
            while (!stop) {
            }
        });
        QTest::qWait(300);
        const double busyFigure = meters.cpuUsageText().chopped(1).toDouble();
        stop = true;
        busy.join();
        QTest::qWait(300);
        const double idleFigure = meters.cpuUsageText().chopped(1).toDouble();
        QVERIFY2(busyFigure > idleFigure,
                 qPrintable(QStringLiteral("%1 vs %2").arg(busyFigure).arg(idleFigure)));
    }

    void footprintIsAnonymousPlusSwap()
    {
        QCOMPARE(
            ProcessMeters::footprintFromStatus("Name:\tx\nVmRSS:\t  9000 kB\nRssAnon:\t  2000 kB\n"
                                               "RssFile:\t 7000 kB\nVmSwap:\t    48 kB\n"),
            std::optional<qint64>((2000 + 48) * 1024));
        QCOMPARE(ProcessMeters::footprintFromStatus("RssAnon:\t 10 kB\n"),
                 std::optional<qint64>(10240));
        QCOMPARE(ProcessMeters::footprintFromStatus("VmSwap:\t 10 kB\n"), std::nullopt);
        QCOMPARE(ProcessMeters::footprintFromStatus("RssAnon:\t lots\n"), std::nullopt);
        QCOMPARE(ProcessMeters::footprintFromStatus(""), std::nullopt);
        const auto real = ProcessMeters::footprintBytes();
        QVERIFY(real && *real > 1'000'000);
    }

    void bytesUseDecimalUnits()
    {
        QCOMPARE(ProcessMeters::formatBytes(84'200'000), QStringLiteral("84.2 MB"));
        QCOMPARE(ProcessMeters::formatBytes(1'500), QStringLiteral("1.5 kB"));
        QCOMPARE(ProcessMeters::formatBytes(0), QStringLiteral("0 bytes"));
        QCOMPARE(ProcessMeters::formatBytes(3'000'000'000), QStringLiteral("3.0 GB"));
    }
};

LUMIVALE_TEST_MAIN(TestProcessMeters)
#include "tst_processmeters.moc"
