#pragma once

#include "results.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

class QImage;

namespace lumivale::test {

// Points every XDG folder (config, cache, data, runtime) of this process at a
// fresh temporary folder, so tests never touch the user's files. Must run
// before the application object exists.
class IsolatedHome
{
public:
    IsolatedHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// A D-Bus daemon of the test's own, to stand in for the session or the
// system bus; it ends with the object. address() is empty when it could not
// start.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();
    const QString &address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

// Asks a process to end and kills it when it has not within `graceMs`.
void endProcess(QProcess &process, int graceMs = 5000);
// Makes a process about to start end with the test: a test that crashes then
// leaves no server behind holding CTest's output open.
void endWithThisProcess(QProcess &process);

// Asks again every `stepMs` until `condition` holds; false when `ms` pass
// first. Blocks: for conditions that do not wait on this process's events.
template<typename Condition> bool blockUntil(Condition condition, int ms, int stepMs = 200)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(stepMs);
    }
    return true;
}

// The mean difference of two pictures' channels, 0 to 255; 255 when they
// differ in size or are null.
double meanDifference(const QImage &a, const QImage &b);

// A generated test video by name ("red", "blue", ...), or another media file
// by file name ("not-a-video.mp4").
QString mediaPath(const QString &name);

} // namespace lumivale::test

// main() for a unit test: isolated folders, Qt's offscreen platform.
#define LUMIVALE_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        lumivale::test::IsolatedHome home;                                                         \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                   \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
