// The video surface in a real window under Xvfb with real libmpv, on the
// render path the environment chooses (see CMakeLists.txt).

#include "gallery/videosurface.h"
#include "galleryscene.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/mpvvideoitem.h"
#include "support/loopbackhttpserver.h"
#include "support/stdoutcapture.h"
#include "support/xsession.h"

#include <QApplication>
#include <QQuickWindow>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;

namespace {

constexpr QSize kSize(640, 360);

QUrl video(const QString &name)
{
    return QUrl::fromLocalFile(mediaPath(name));
}

Hue hueAt(int x, int y)
{
    return classify(XSession::colorAt(QPoint(x, y)));
}

Hue hueAtCenter()
{
    return hueAt(kSize.width() / 2, kSize.height() / 2);
}

} // namespace

class TestVideoSurfaceX11 : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    std::unique_ptr<QQuickWindow> m_window;
    VideoSurface *m_surface = nullptr;
    LoopbackHttpServer m_server;

    // No player is left running once the surface lets go of it.
    static bool coresWoundDown()
    {
        return MpvCore::liveCount() == 0 && MpvVideoItem::renderContextCount() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qInfo("render path: %s (GL renderer %s)",
              galleryRenderPath() == GalleryRenderPath::Software ? "software" : "OpenGL",
              qPrintable(openGLRendererName()));
        m_server.setHandler([](const LoopbackHttpServer::Request &request) {
            if (request.path() == "/blue.mp4")
                return LoopbackHttpServer::file(mediaPath(QStringLiteral("blue")), request);
            return LoopbackHttpServer::Response{404, {}, "not here", 0, false};
        });
        m_window = std::make_unique<QQuickWindow>();
        m_window->setFlag(Qt::FramelessWindowHint);
        m_window->setGeometry(QRect(QPoint(0, 0), kSize));
        m_window->setColor(Qt::black);
        m_surface = new VideoSurface(m_window->contentItem());
        m_surface->setSize(kSize);
        m_surface->setPlaceholderColor(Qt::green);
        m_surface->setReleaseWhenPaused(true);
        m_surface->setUrl(video(QStringLiteral("red")));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // Paused and released: only the placeholder; playing, the video; paused
    // again, its frame stays, or the placeholder when released.
    void placeholderVideoAndPause()
    {
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Green, 5000);
        m_surface->setPlaying(true);
        QTRY_COMPARE_WITH_TIMEOUT(m_surface->state(), VideoSurface::State::Ready, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Red, 2000);
        QVERIFY(saveScreenshot(QStringLiteral("videosurface-playing.png"), QRect(QPoint(), kSize)));
        // Half faded in, the video is mixed with the placeholder under it:
        // neither hidden nor added to it.
        QQuickItem *picture = m_surface->playback().player()->pictureItem();
        QTRY_COMPARE(picture->opacity(), 1.0); // the fade-in is over
        picture->setOpacity(0.5);
        QTest::qWait(300);
        const QColor mixed = XSession::colorAt(QPoint(kSize.width() / 2, kSize.height() / 2));
        QVERIFY2(qAbs(mixed.red() - 128) < 40 && qAbs(mixed.green() - 128) < 40,
                 qPrintable(mixed.name()));
        picture->setOpacity(1);

        m_surface->setReleaseWhenPaused(false);
        m_surface->setPlaying(false);
        QTest::qWait(300);
        QCOMPARE(hueAtCenter(), Hue::Red);
        m_surface->setReleaseWhenPaused(true);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Green, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(coresWoundDown(), 5000);
    }

    void newUrls_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Hue>("top");
        QTest::addColumn<Hue>("bottom");
        QTest::newRow("loopback http")
            << m_server.url(QStringLiteral("/blue.mp4")) << Hue::Blue << Hue::Blue;
        // Local files, red over blue: the picture is the right way up.
        QTest::newRow("upright") << video(QStringLiteral("red_over_blue")) << Hue::Red << Hue::Blue;
        QTest::newRow("turned by its container")
            << video(QStringLiteral("rotated")) << Hue::Blue << Hue::Red;
    }

    void newUrls()
    {
        QFETCH(QUrl, url);
        QFETCH(Hue, top);
        QFETCH(Hue, bottom);
        m_surface->setPlaying(true);
        m_surface->setUrl(video(QStringLiteral("red")));
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Red, 10000);

        m_surface->setUrl(url);
        QTRY_COMPARE_WITH_TIMEOUT(m_surface->state(), VideoSurface::State::Ready, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hueAt(kSize.width() / 2, 20), top, 2000);
        QCOMPARE(hueAt(kSize.width() / 2, kSize.height() - 20), bottom);
    }

    void badFilesStayOnThePlaceholder_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::newRow("not a video") << video(QStringLiteral("not-a-video.mp4"));
        QTest::newRow("missing on the server") << m_server.url(QStringLiteral("/gone.mp4"));
        QTest::newRow("unsupported scheme") << QUrl(QStringLiteral("ftp://127.0.0.1/red.mp4"));
    }

    void badFilesStayOnThePlaceholder()
    {
        QFETCH(QUrl, url);
        StdoutCapture capture;
        m_surface->setPlaying(true);
        m_surface->setUrl(url);
        QTRY_COMPARE_WITH_TIMEOUT(m_surface->state(), VideoSurface::State::Failed, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Green, 2000);
        QTest::qWait(200);
        const QList<QByteArray> lines = capture.lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("video playback failed: "), lines[0]);
    }

    void cleanupTestCase()
    {
        m_window.reset();
        QTRY_VERIFY_WITH_TIMEOUT(coresWoundDown(), 5000);
    }
};

LUMIVALE_X11_TEST_MAIN(TestVideoSurfaceX11, 800, 600)
#include "tst_videosurface_x11.moc"
