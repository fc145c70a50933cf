#pragma once

#include "app/runtime.h"
#include "testenvironment.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QRect>
#include <QStringList>
#include <atomic>
#include <thread>

namespace lumivale::test {
Q_NAMESPACE

// A private X server (Xvfb) with the openbox window manager, for integration
// tests, and a private D-Bus session bus beside it. Starting it sets DISPLAY
// and DBUS_SESSION_BUS_ADDRESS for this process and its children; stopping it
// ends all three. (Without a bus of its own, the first D-Bus client would
// autolaunch one that outlives the test.)
class XSession
{
public:
    explicit XSession(QSize size = QSize(1280, 720));
    ~XSession();

    bool isRunning() const { return m_running; }

    bool startWindowManager();
    void stopWindowManager();

    // Runs an X client tool (xrandr, xprop, ...) against this server.
    static QString run(const QString &program, const QStringList &arguments,
                       int *exitCode = nullptr);
    // The same, for a tool run for its effect: false, with the tool's output
    // as a warning, when it fails.
    static bool succeeds(const QString &program, const QStringList &arguments);

    // Pixels straight from the X server's screen, not from the application.
    static QImage grab(const QRect &area);
    static QColor colorAt(const QPoint &point);
    // How many rectangles make up a window's input shape (0: takes no input).
    static int inputShapeRectangleCount(quint32 window);

private:
    bool m_running = false;
    QProcess m_server;
    QProcess m_windowManager;
    PrivateBus m_sessionBus;
};

// Samples a small area of the X server's screen as fast as the server allows,
// from a thread and connection of its own, to see every frame of a change:
// from construction until stop().
class ScreenSampler
{
public:
    struct Sample
    {
        qint64 msecs; // since the sampling began
        QColor color; // the mean colour of the area
    };

    explicit ScreenSampler(const QRect &area);
    ~ScreenSampler();
    QList<Sample> stop();

private:
    std::atomic_bool m_running = true;
    std::thread m_thread;
    QList<Sample> m_samples;
};

// Colour names the tests use, with a tolerance for video compression.
enum class Hue { Black, Red, Green, Blue, Other };
Q_ENUM_NS(Hue)
Hue classify(const QColor &color);

} // namespace lumivale::test

// main() for an integration test: isolated folders and a private X session
// with a window manager, started before the application object.
#define LUMIVALE_X11_TEST_MAIN(TestClass, width, height)                                           \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        lumivale::test::IsolatedHome home;                                                         \
        lumivale::test::XSession session(QSize(width, height));                                    \
        if (!session.isRunning() || !session.startWindowManager()) {                               \
            qCritical("cannot start Xvfb with openbox");                                           \
            return 1;                                                                              \
        }                                                                                          \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                         \
        lumivale::prepareProcess();                                                                \
        QApplication app(argc, argv);                                                              \
        lumivale::prepareApplication();                                                            \
        lumivale::prepareGraphics();                                                               \
        TestClass test;                                                                            \
        test.session = &session;                                                                   \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        const int result = QTest::qExec(&test, argc, argv);                                        \
        lumivale::checkLeaksNow();                                                                 \
        return result;                                                                             \
    }
