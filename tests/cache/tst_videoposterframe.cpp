#include "cache/posterframeextractor.h"
#include "cache/videoposterframe.h"
#include "cache/videoposterframecache.h"
#include "support/loopbackhttpserver.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>
#include <QThread>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace Qt::StringLiterals;
using lumivale::test::LoopbackHttpServer;

namespace {

std::optional<QImage> await(QCoro::Task<std::optional<QImage>> task)
{
    return QCoro::waitFor(std::move(task));
}

QUrl media(const QString &name)
{
    return QUrl::fromLocalFile(test::mediaPath(name));
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

bool isBlack(QRgb pixel)
{
    return qRed(pixel) < 20 && qGreen(pixel) < 20 && qBlue(pixel) < 20;
}

} // namespace

class VideoPosterFrameTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        registerVideoPosterFrameType();
    }

    // Requests for one video at sizes that truncate alike share one
    // extraction, also while it runs, and are then answered from memory.
    void requestsShareOneExtraction()
    {
        VideoPosterFrameCache cache;
        auto first = cache.posterFrame(media(u"red"_s), QSizeF(320, 320));
        auto second = cache.posterFrame(media(u"red"_s), QSizeF(320.9, 320.5));
        const std::optional<QImage> firstImage = await(std::move(first));
        const std::optional<QImage> secondImage = await(std::move(second));
        QVERIFY(firstImage && secondImage);
        QCOMPARE(*firstImage, *secondImage);
        QCOMPARE(firstImage->size(), QSize(320, 180));
        QVERIFY(isRed(firstImage->pixel(160, 90)));
        QCOMPARE(*await(cache.posterFrame(media(u"red"_s), QSizeF(320, 320))), *firstImage);
        QCOMPARE(cache.extractionCount(), 1);
        // Another size is another entry.
        QVERIFY(await(cache.posterFrame(media(u"red"_s), QSizeF(100, 100))));
        QCOMPARE(cache.extractionCount(), 2);
    }

    void destroyedCacheAnswersItsWaitersWithNoImage()
    {
        auto cache = std::make_unique<VideoPosterFrameCache>();
        auto request = cache->posterFrame(media(u"red"_s), QSizeF(64, 64));
        cache.reset(); // waits for the extraction, whose answer is then dropped
        QVERIFY(!await(std::move(request)));
    }

    void boundedLeastRecentlyUsedFirst()
    {
        VideoPosterFrameCache cache;
        const auto red = await(cache.posterFrame(media(u"red"_s), QSizeF(64, 64)));
        QVERIFY(red);
        cache.setMaxBytes(2 * red->sizeInBytes());
        QVERIFY(await(cache.posterFrame(media(u"blue"_s), QSizeF(64, 64))));
        QVERIFY(await(cache.posterFrame(media(u"red"_s), QSizeF(64, 64))));   // used again
        QVERIFY(await(cache.posterFrame(media(u"green"_s), QSizeF(64, 64)))); // blue goes
        QCOMPARE(cache.keptCount(), 2);
        QVERIFY(await(cache.posterFrame(media(u"red"_s), QSizeF(64, 64))));
        QCOMPARE(cache.extractionCount(), 3);
        QVERIFY(await(cache.posterFrame(media(u"blue"_s), QSizeF(64, 64))));
        QCOMPARE(cache.extractionCount(), 4);
    }

    // A 640x360 clip, and one stored 640x360 to be shown a quarter turned:
    // the limit applies to the upright picture.
    void scalesDownToFitAndNeverUp_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QSizeF>("maximumSize");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("fits the width") << u"green"_s << QSizeF(320, 320) << QSize(320, 180);
        QTest::newRow("fits the height") << u"green"_s << QSizeF(1000, 90) << QSize(160, 90);
        QTest::newRow("poster size") << u"green"_s << QSizeF(300.9, 200) << QSize(301, 169);
        QTest::newRow("larger than the video")
            << u"green"_s << QSizeF(2000, 2000) << QSize(640, 360);
        QTest::newRow("no limit") << u"green"_s << QSizeF(0, 0) << QSize(640, 360);
        QTest::newRow("turned, limited")
            << u"poster_rotated"_s << QSizeF(180, 180) << QSize(101, 180);
    }

    void scalesDownToFitAndNeverUp()
    {
        QFETCH(QString, clip);
        QFETCH(QSizeF, maximumSize);
        const std::optional<QImage> image = extractPosterFrame(media(clip), maximumSize);
        QVERIFY(image);
        QTEST(image->size(), "expected");
    }

    void unreadableVideosGiveNoImageAndAreTriedAgain_data()
    {
        QTest::addColumn<QUrl>("video");
        QTest::newRow("text file") << media(u"not-a-video.mp4"_s);
        QTest::newRow("empty file") << media(u"empty.mp4"_s);
        QTest::newRow("truncated") << media(u"truncated.mp4"_s);
        QTest::newRow("missing file") << media(u"missing.mp4"_s);
        QTest::newRow("other scheme") << QUrl(u"ftp://127.0.0.1/video.mp4"_s);
        QTest::newRow("empty URL") << QUrl();
        // Nothing at or after 1.0 s; at 30 fps the last frame of 1 s is at 0.967 s.
        QTest::newRow("0.8 s long") << media(u"red_0_8s"_s);
        QTest::newRow("1 s long") << media(u"red_short"_s);
    }

    void unreadableVideosGiveNoImageAndAreTriedAgain()
    {
        QFETCH(QUrl, video);
        VideoPosterFrameCache cache;
        QVERIFY(!await(cache.posterFrame(video, QSizeF(320, 180))));
        QCOMPARE(cache.extractionCount(), 1);
        QVERIFY(!await(cache.posterFrame(video, QSizeF(320, 180))));
        QCOMPARE(cache.extractionCount(), 2);
    }

    void streamsRemoteVideos()
    {
        LoopbackHttpServer server;
        const QString path = test::mediaPath(u"green"_s);
        server.setHandler([path](const LoopbackHttpServer::Request &request) {
            return LoopbackHttpServer::file(request.path() == "/green.mp4" ? path : QString(),
                                            request);
        });
        VideoPosterFrameCache cache;
        const auto image = await(cache.posterFrame(server.url(u"/green.mp4"_s), QSizeF(160, 90)));
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(160, 90));
        QVERIFY(!await(cache.posterFrame(server.url(u"/missing"_s), QSizeF(160, 90))));
    }

    void itemShowsTheStillOverBlack()
    {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import Lumivale 1.0\n"
                          "VideoPosterFrame { width: 200; height: 100 }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        auto *item = qobject_cast<VideoPosterFrame *>(object.get());
        QVERIFY(item);
        QQuickWindow window;
        window.resize(200, 100);
        item->setParentItem(window.contentItem());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(isBlack(window.grabWindow().pixel(100, 50)));

        item->setMaximumSize(QSizeF(200, 100));
        item->setVideo(media(u"red"_s));
        QTRY_VERIFY(item->hasImage());
        QCOMPARE(item->image().size(), QSize(178, 100));
        // Stretched over the whole item once faded in.
        QTRY_VERIFY(isRed(window.grabWindow().pixel(100, 50)));
        QVERIFY(isRed(window.grabWindow().pixel(5, 5)));

        // A video without a still: the picture fades out to the black backdrop.
        item->setVideo(media(u"not-a-video.mp4"_s));
        QTRY_VERIFY(!item->hasImage());
        QTRY_VERIFY(isBlack(window.grabWindow().pixel(100, 50)));
    }

    void itemDestroyedWhileWaitingIsSafe()
    {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import Lumivale 1.0\nVideoPosterFrame { maximumSize: Qt.size(90, 90) }",
                          QUrl());
        auto *item = qobject_cast<VideoPosterFrame *>(
            component.createWithInitialProperties({{u"video"_s, media(u"blue"_s)}}));
        QVERIFY(item);
        delete item;
        // The extraction finishes after the item is gone: its answer is
        // dropped, and the shared cache still serves the same request.
        QVERIFY(
            await(VideoPosterFrameCache::shared().posterFrame(media(u"blue"_s), QSizeF(90, 90))));
        QCoreApplication::processEvents();
    }
};

LUMIVALE_TEST_MAIN(VideoPosterFrameTest)
#include "tst_videoposterframe.moc"
