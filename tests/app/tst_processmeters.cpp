#include "app/processmeters.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;
using Sample = ProcessMeters::Sample;

class TestProcessMeters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    // Each reading covers the time since the previous readable one, on a
    // scripted clock (CPU ns, wall ns).
    void cpuTextCoversTheLastInterval()
    {
        QList<std::optional<Sample>> clock{
            Sample{500'000'000, 1'000'000'000},   // half a core since the start
            Sample{2'500'000'000, 2'000'000'000}, // two busy cores
            Sample{2'500'000'000, 2'000'000'000}, // no time passed
            std::nullopt,                         // the clocks cannot be read
            Sample{3'000'000'000, 3'000'000'000}, // from the last readable sample
            Sample{1'000'000'000, 4'000'000'000}, // a CPU clock going back reads 0
        };
        ProcessMeters meters([&clock] { return clock.takeFirst(); }, Sample{0, 0});
        for (const char *text : {"50.0%", "200.0%", "0.0%", "--", "50.0%", "0.0%"})
            QCOMPARE(meters.cpuUsageText(), QString::fromLatin1(text));
        // No start: the first reading has no interval.
        ProcessMeters unstarted([] { return std::optional(Sample{5, 10}); }, std::nullopt);
        QCOMPARE(unstarted.cpuUsageText(), u"0.0%"_s);
        // The process's own clocks give a figure.
        QVERIFY(ProcessMeters().cpuUsageText().contains(QRegularExpression(u"^\\d+\\.\\d%$"_s)));
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
};

LUMIVALE_TEST_MAIN(TestProcessMeters)
#include "tst_processmeters.moc"
