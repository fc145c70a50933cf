// Waiting in the event loop: what wakes the wait, and when it gives up.

#include "app/runtime.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

using namespace lumivale;
using namespace Qt::StringLiterals;

class TestRuntime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(TestRuntime)
#include "tst_runtime.moc"
