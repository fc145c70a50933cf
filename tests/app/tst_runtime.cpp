// The process at run time: waiting in the event loop (what wakes the wait,
// and when it gives up), and the meters of its CPU and memory use.

#include "app/processmeters.h"
#include "app/runtime.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

using namespace lumivale;
using namespace Qt::StringLiterals;
using Sample = ProcessMeters::Sample;

class TestRuntime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void waitUntil_data()
    {
        QTest::addColumn<QString>("settledBy");
        QTest::addColumn<bool>("done");
        QTest::newRow("an event") << u"event"_s << true;
        QTest::newRow("another thread, no event") << u"thread"_s << true;
        QTest::newRow("an exit of the loop does not end it") << u"exit"_s << true;
        QTest::newRow("nothing: false at the deadline") << QString() << false;
    }
    void waitUntil()
    {
        QFETCH(QString, settledBy);
        QFETCH(bool, done);
        std::atomic<bool> settled = false;
        std::thread other;
        if (settledBy == u"event") {
            QTimer::singleShot(20, this, [&] { settled = true; });
        } else if (settledBy == u"thread") {
            other = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                settled = true;
            });
        } else if (settledBy == u"exit") {
            QTimer::singleShot(0, this, [] { QCoreApplication::exit(0); });
            QTimer::singleShot(50, this, [&] { settled = true; });
        }
        // Objects deleted later from the outer loop are deleted meanwhile.
        QPointer<QObject> later = new QObject;
        later->deleteLater();
        QCOMPARE(lumivale::waitUntil([&] { return settled.load(); }, done ? 10000 : 100), done);
        if (other.joinable())
            other.join();
        QVERIFY(!later);
    }

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
        QVERIFY(ProcessMeters::footprintBytes().value_or(0) > 1'000'000);
    }
};

LUMIVALE_TEST_MAIN(TestRuntime)
#include "tst_runtime.moc"
