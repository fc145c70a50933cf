// The frozen frame and the lock-screen still: which frame of the video, the
// JPEG's pixels against FFmpeg's own decode, the file names, when a still is
// rewritten, and where the pictures are set.

#include "cache/posterframeextractor.h"
#include "desktop/framewriter.h"
#include "desktop/stills.h"
#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace lumivale;
using namespace lumivale::fake;
using namespace lumivale::test;
using Status = VideoPlayer::ItemStatus;

namespace {
const Screen left{QStringLiteral("Left"), 101, QRect(0, 0, 1920, 1080)};
const Screen middle{QStringLiteral("Middle"), 202, QRect(1920, 0, 1280, 1024)};
const Screen right{QStringLiteral("Right"), 303, QRect(3200, 0, 800, 600)};

QUrl video(const QString &name)
{
    return QUrl::fromLocalFile(mediaPath(name));
}

// The grey of frame `n` in the numbered videos, as RGB (limited-range luma
// 16 + 7n mod 220).
double greyOfFrame(int n)
{
    return (double((n * 7) % 220)) * 255.0 / 219.0;
}

double meanGrey(const QImage &image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    }
    return sum / (image.width() * image.height());
}

// Whether a picture shows numbered frame `n`: its grey is that frame's and
// nearer to it than to the frames on either side (levels repeat only every
// 220 frames, so the neighbours are what a wrong decode lands on).
bool showsFrame(const QString &path, int n)
{
    const QImage image(path);
    if (image.isNull())
        return false;
    const double grey = meanGrey(image);
    const double off = std::abs(greyOfFrame(n) - grey);
    if (off > 3) {
        qWarning("grey %.1f, frame %d has %.1f", grey, n, greyOfFrame(n));
        return false;
    }
    return n == 0 || off < std::abs(greyOfFrame(n - 1) - grey);
}

double meanAbsoluteDifference(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

// The frame the ffmpeg command line decodes at `seconds`, as a lossless PNG.
QImage referenceFrame(const QString &videoPath, double seconds, const QString &pngPath)
{
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                       QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-ss"),
                       QString::number(seconds), QStringLiteral("-i"), videoPath,
                       QStringLiteral("-frames:v"), QStringLiteral("1"), pngPath});
    return QImage(pngPath);
}

// A copy of `source` whose track carries the display matrix (a b; c d), each
// entry -1, 0 or 1, written into the MP4 track header as FFmpeg reads it.
bool withDisplayMatrix(const QString &source, const QString &target, const QList<int> &m)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = in.readAll();
    const qsizetype box = bytes.indexOf("tkhd");
    if (box < 0)
        return false;
    const bool version1 = bytes[box + 4] == 1;
    // version and flags, the times, track ID and duration, reserved, layer,
    // group, volume, reserved; then nine 32-bit entries.
    qsizetype at = box + 4 + 4 + (version1 ? 32 : 20) + 8 + 8;
    const qint32 entries[9] = {m[0] << 16, m[1] << 16, 0, m[2] << 16, m[3] << 16, 0, 0, 0, 1 << 30};
    for (const qint32 entry : entries) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes[at++] = char((quint32(entry) >> shift) & 0xff);
    }
    QFile out(target);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Lumivale");
}
} // namespace

class TestStills : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<WallpaperManager> m_manager;

    FakeDesktopPictures &pictures() { return m_platform->desktopPictures(); }
    QStringList writtenScreens() const
    {
        QStringList names;
        for (const auto &[name, picture] : m_platform->desktopPictures().writes())
            names.append(name);
        return names;
    }
    void applyAndShow(const QUrl &file, double playerSeconds)
    {
        m_manager->apply(file, QStringLiteral("numbered"));
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            for (FakeVideoPlayer *player : surface->layers()) {
                player->reportStatus(Status::ReadyToPlay);
                player->setCurrentTime(playerSeconds);
            }
        }
        QCoreApplication::processEvents();
    }
    QString frozenPath() const { return dataFolder() + QStringLiteral("/FrozenWallpaper.jpg"); }
    QString lockScreenPath(const QString &id)
    {
        return stills::lockScreenFallbackURL(id).value_or(QUrl()).toLocalFile();
    }
    // A copy of a test video whose modification date the test may move.
    QString copyOfVideo(const QString &name)
    {
        const QString path = m_dir.filePath(name + QStringLiteral("-copy.mp4"));
        QFile::remove(path);
        QFile::copy(mediaPath(name), path);
        return path;
    }
    static void setModified(const QString &path, const QDateTime &when)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
    }

private Q_SLOTS:
    void init()
    {
        QDir(dataFolder()).removeRecursively();
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({left, middle, right});
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("d.json")));
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults);
    }
    void cleanup()
    {
        m_manager.reset();
        m_defaults.reset();
        m_platform.reset();
    }

    // The frame writer on its own.

    void framesAreTakenAtTheExactTime_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("frame");
        QTest::newRow("start of a frame") << "numbered_10s" << 0.1 << 3;
        QTest::newRow("inside a frame") << "numbered_10s" << 0.12 << 3;
        QTest::newRow("just before a frame") << "numbered_10s" << 0.099 << 2;
        QTest::newRow("after a key frame") << "numbered_10s" << 2.5 << 75;
        QTest::newRow("just before a key frame") << "numbered_10s" << 3.99 << 119;
        QTest::newRow("near the end") << "numbered_10s" << 9.9 << 297;
        QTest::newRow("past the end") << "numbered_10s" << 20.0 << 299;
        QTest::newRow("zero means 0.1 s") << "numbered_10s" << 0.0 << 3;
        QTest::newRow("negative means 0.1 s") << "numbered_10s" << -4.0 << 3;
        QTest::newRow("not a number means 0.1 s") << "numbered_10s" << double(NAN) << 3;
        QTest::newRow("short clip") << "numbered_short" << 0.1 << 3;
    }
    void framesAreTakenAtTheExactTime()
    {
        QFETCH(QString, name);
        QFETCH(double, seconds);
        QFETCH(int, frame);
        const QString out = m_dir.filePath(QStringLiteral("frame.jpg"));
        const auto error =
            errorOf(framewriter::writeFrame(video(name), seconds, QUrl::fromLocalFile(out)));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        QVERIFY(showsFrame(out, frame));
    }

    void jpegMatchesTheDecodedFrame()
    {
        const QString out = m_dir.filePath(QStringLiteral("pattern.jpg"));
        QCOMPARE(errorOf(framewriter::writeFrame(video(QStringLiteral("pattern")), 1.5,
                                                 QUrl::fromLocalFile(out))),
                 std::nullopt);
        const QImage still(out);
        const QImage reference = referenceFrame(mediaPath(QStringLiteral("pattern")), 1.5,
                                                m_dir.filePath(QStringLiteral("pattern.png")));
        QCOMPARE(still.size(), QSize(320, 240));
        QCOMPARE(reference.size(), still.size());
        QVERIFY2(meanAbsoluteDifference(still, reference) < 4,
                 qPrintable(QString::number(meanAbsoluteDifference(still, reference))));
        // A neighbouring frame of the moving pattern is measurably further off.
        const QImage neighbour = referenceFrame(mediaPath(QStringLiteral("pattern")), 1.2,
                                                m_dir.filePath(QStringLiteral("n.png")));
        QVERIFY(meanAbsoluteDifference(still, neighbour) >
                meanAbsoluteDifference(still, reference) + 1);
    }

    void jpegQualityIsNinetyTwo()
    {
        // Same picture through Qt's encoder at 92: the file must be that size.
        const QString out = m_dir.filePath(QStringLiteral("q.jpg"));
        QCOMPARE(errorOf(framewriter::writeFrame(video(QStringLiteral("pattern")), 1.0,
                                                 QUrl::fromLocalFile(out))),
                 std::nullopt);
        const auto frame = framewriter::decodeFrame(mediaPath(QStringLiteral("pattern")), 1.0);
        QVERIFY(frame);
        QByteArray expected;
        QBuffer buffer(&expected);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(frame->save(&buffer, "jpeg", 92));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
    }

    // Display matrices and non-square pixels: the stills and the poster frames
    // show the picture as FFmpeg's own autorotate and scale filters do.
    void orientationAndShapeFollowFFmpeg_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("matrix"); // a b c d; empty: none
        QTest::newRow("upright") << "corner" << QList<int>{};
        QTest::newRow("90°") << "corner" << QList<int>{0, 1, -1, 0};
        QTest::newRow("180°") << "corner" << QList<int>{-1, 0, 0, -1};
        QTest::newRow("270°") << "corner" << QList<int>{0, -1, 1, 0};
        QTest::newRow("mirrored") << "corner" << QList<int>{-1, 0, 0, 1};
        QTest::newRow("flipped") << "corner" << QList<int>{1, 0, 0, -1};
        QTest::newRow("mirrored 90°") << "corner" << QList<int>{0, 1, 1, 0};
        QTest::newRow("mirrored 270°") << "corner" << QList<int>{0, -1, -1, 0};
        QTest::newRow("wide pixels") << "corner_wide_pixels" << QList<int>{};
        QTest::newRow("wide pixels at 90°") << "corner_wide_pixels" << QList<int>{0, 1, -1, 0};
    }
    void orientationAndShapeFollowFFmpeg()
    {
        QFETCH(QString, name);
        QFETCH(QList<int>, matrix);
        QString path = mediaPath(name);
        if (!matrix.isEmpty()) {
            path =
                m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()) + QStringLiteral(".mp4"));
            QVERIFY(withDisplayMatrix(mediaPath(name), path, matrix));
        }
        const QString png = m_dir.filePath(QStringLiteral("reference.png"));
        QFile::remove(png);
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                           QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-ss"),
                           QStringLiteral("1"), QStringLiteral("-i"), path, QStringLiteral("-vf"),
                           QStringLiteral("scale=iw*sar:ih,setsar=1"), QStringLiteral("-frames:v"),
                           QStringLiteral("1"), png});
        const QImage reference(png);
        QVERIFY(!reference.isNull());
        const auto still = framewriter::decodeFrame(path, 1.0);
        const auto poster = extractPosterFrame(QUrl::fromLocalFile(path), QSizeF());
        QVERIFY(still && poster);
        // The scale filter keeps the height and may narrow the picture; ours
        // widens it instead. The shape and the picture are the same.
        const QImage expected = reference.convertToFormat(QImage::Format_RGB32);
        for (const QImage &image : {*still, *poster}) {
            const double aspect = double(image.width()) / image.height();
            const double expectedAspect = double(expected.width()) / expected.height();
            QVERIFY2(std::abs(aspect / expectedAspect - 1) < 0.03,
                     qPrintable(QStringLiteral("%1x%2 against %3x%4")
                                    .arg(image.width())
                                    .arg(image.height())
                                    .arg(expected.width())
                                    .arg(expected.height())));
            const QImage same = image.scaled(expected.size()).convertToFormat(QImage::Format_RGB32);
            QVERIFY2(meanAbsoluteDifference(same, expected) < 8,
                     qPrintable(QString::number(meanAbsoluteDifference(same, expected))));
        }
        QCOMPARE(still->size(), poster->size());
    }

    // A still is as large as the largest screen it is set on needs, and never
    // larger than the video.
    void stillsAreSizedForTheirScreens_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("still");
        QTest::newRow("no screen given") << QSize() << QSize(320, 240);
        QTest::newRow("smaller screen, covered") << QSize(160, 90) << QSize(160, 120);
        QTest::newRow("larger screen") << QSize(1920, 1080) << QSize(320, 240);
    }
    void stillsAreSizedForTheirScreens()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, still);
        const auto frame =
            framewriter::decodeFrame(mediaPath(QStringLiteral("pattern")), 1.0, screen);
        QVERIFY(frame);
        QCOMPARE(frame->size(), still);
    }

    void badFilesFailWithoutWritingAnything_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("text") << mediaPath(QStringLiteral("not-a-video.mp4"));
        QTest::newRow("empty") << mediaPath(QStringLiteral("empty.mp4"));
        QTest::newRow("truncated") << mediaPath(QStringLiteral("truncated.mp4"));
        QTest::newRow("missing") << QStringLiteral("/nonexistent/video.mp4");
    }
    void badFilesFailWithoutWritingAnything()
    {
        QFETCH(QString, file);
        const QString out = m_dir.filePath(QStringLiteral("bad.jpg"));
        QFile::remove(out);
        const auto error = errorOf(
            framewriter::writeFrame(QUrl::fromLocalFile(file), 1.0, QUrl::fromLocalFile(out)));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("FFmpeg"));
        QVERIFY(error->description().contains(file));
        QVERIFY(!QFile::exists(out));
    }

    void anUnwritableDestinationFailsAndKeepsTheOldFile()
    {
        const QString out = m_dir.filePath(QStringLiteral("missing-folder/frame.jpg"));
        const auto error = errorOf(framewriter::writeFrame(video(QStringLiteral("pattern")), 1.0,
                                                           QUrl::fromLocalFile(out)));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("FileSystem"));
        QVERIFY(error->description().contains(out));
    }

    void anEmptyImageIsAnEncodingError()
    {
        const auto error =
            errorOf(framewriter::writeJpeg(QImage(), m_dir.filePath(QStringLiteral("x"))));
        QCOMPARE(error, std::optional(framewriter::encodeError()));
        QCOMPARE(error->description(), QStringLiteral("Failed to encode frozen wallpaper frame"));
        QCOMPARE(error->code(), 1);
    }

    // Names and dates.

    void wallpaperIDsAreSanitised_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plain") << "aurora"
                               << "LockScreenFallback-aurora.jpg";
        QTest::newRow("punctuation inside") << "a/b..c"
                                            << "LockScreenFallback-a-b-c.jpg";
        QTest::newRow("same pieces, other punctuation") << " a b c "
                                                        << "LockScreenFallback-a-b-c.jpg";
        QTest::newRow("only punctuation") << "../!?"
                                          << "LockScreenFallback.jpg";
        QTest::newRow("empty") << ""
                               << "LockScreenFallback.jpg";
        QTest::newRow("letters and digits of any script")
            << QStringLiteral("Café_東京 2")
            << QStringLiteral("LockScreenFallback-Café-東京-2.jpg");
        QTest::newRow("combining mark stays")
            << QStringLiteral("e\u0301t\u00e9")
            << QStringLiteral("LockScreenFallback-e\u0301t\u00e9.jpg");
        QTest::newRow("letter outside the basic plane")
            << QStringLiteral("\U0001D49C-x")
            << QStringLiteral("LockScreenFallback-\U0001D49C-x.jpg");
        QTest::newRow("emoji is not a letter") << QStringLiteral("sun\U0001F31Eset")
                                               << QStringLiteral("LockScreenFallback-sun-set.jpg");
    }
    void wallpaperIDsAreSanitised()
    {
        QFETCH(QString, id);
        QFETCH(QString, fileName);
        QCOMPARE(lockScreenPath(id), dataFolder() + u'/' + fileName);
    }

    void lockScreenTimeIsTheEndUnlessTheVideoIsTooShort()
    {
        QCOMPARE(stills::lockScreenFrameSeconds(10.0), 9.9);
        QCOMPARE(stills::lockScreenFrameSeconds(0.15), 0.1);
        QCOMPARE(stills::lockScreenFrameSeconds(0.2), 0.1);
        QCOMPARE(stills::lockScreenFrameSeconds(std::nullopt), 0.1);
        QCOMPARE(stills::lockScreenFrameSeconds(double(INFINITY)), 0.1);
    }

    void regenerationFollowsModificationDates()
    {
        const QString videoPath = copyOfVideo(QStringLiteral("numbered_short"));
        const QString picture = m_dir.filePath(QStringLiteral("still.jpg"));
        const QUrl videoURL = QUrl::fromLocalFile(videoPath);
        const QUrl pictureURL = QUrl::fromLocalFile(picture);
        QFile::remove(picture);
        QVERIFY(stills::fallbackNeedsRegeneration(videoURL, pictureURL)); // missing
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QDateTime now = QDateTime::currentDateTime();
        setModified(videoPath, now.addSecs(-60));
        setModified(picture, now);
        QVERIFY(!stills::fallbackNeedsRegeneration(videoURL, pictureURL));
        setModified(videoPath, now.addSecs(60));
        QVERIFY(stills::fallbackNeedsRegeneration(videoURL, pictureURL));
        // A video whose date cannot be read counts as newer than any picture.
        QVERIFY(stills::fallbackNeedsRegeneration(
            QUrl::fromLocalFile(QStringLiteral("/nonexistent.mp4")), pictureURL));
    }

    // freezeCurrentFrame.

    void freezingAtTimeZeroTakesTheFrameAtPointOne()
    {
        applyAndShow(video(QStringLiteral("numbered_10s")), 0);
        const auto error = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        QVERIFY(showsFrame(frozenPath(), 3));
        QCOMPARE(writtenScreens(), (QStringList{QStringLiteral("Left"), QStringLiteral("Middle"),
                                                QStringLiteral("Right")}));
        const auto picture = pictures().picture(QStringLiteral("Left"));
        QCOMPARE(picture->url, QUrl::fromLocalFile(frozenPath()));
        QVERIFY(picture->options.isEmpty());
    }

    void freezingTakesTheFirstWindowsTimeAndItsTargetScreens()
    {
        m_manager->apply(video(QStringLiteral("numbered_10s")), QStringLiteral("n"),
                         QSet<QString>{QStringLiteral("202"), QStringLiteral("303")});
        const QList<FakeDesktopSurface *> surfaces = m_platform->liveSurfaces();
        QCOMPARE(surfaces.size(), 2);
        for (FakeDesktopSurface *surface : surfaces) {
            FakeVideoPlayer *player = surface->layers().first();
            player->reportStatus(Status::ReadyToPlay);
            // Screen 202 comes first in the window map.
            player->setCurrentTime(surface->screen().name == QStringLiteral("Middle") ? 5.0 : 7.0);
        }
        QCoreApplication::processEvents();
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(showsFrame(frozenPath(), 150));
        QCOMPARE(writtenScreens(),
                 (QStringList{QStringLiteral("Middle"), QStringLiteral("Right")}));
        // A video still being prepared is not on screen yet: the shown one is
        // what freezes.
        m_manager->apply(video(QStringLiteral("pattern")), QStringLiteral("p"),
                         QSet<QString>{QStringLiteral("202"), QStringLiteral("303")});
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(showsFrame(frozenPath(), 150));
    }

    void freezingWithoutAShownPlayerTakesPointOne()
    {
        m_manager->apply(video(QStringLiteral("numbered_10s")), QStringLiteral("n"));
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())),
                 std::nullopt); // players still loading
        QVERIFY(showsFrame(frozenPath(), 3));
    }

    void freezingWithNoTargetScreenConnectedSetsEveryScreen()
    {
        applyAndShow(video(QStringLiteral("numbered_10s")), 1.0);
        m_manager->apply(video(QStringLiteral("numbered_10s")), QStringLiteral("n"),
                         QSet<QString>{QStringLiteral("101")});
        m_platform->screens().setScreens({middle, right}); // screen 101 unplugged
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QCOMPARE(writtenScreens(),
                 (QStringList{QStringLiteral("Middle"), QStringLiteral("Right")}));
    }

    void freezingWithNoWallpaperWritesAndChangesNothing()
    {
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());

        applyAndShow(video(QStringLiteral("numbered_10s")), 1.0);
        m_manager->stop();
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());
    }

    void aVideoThatCannotBeDecodedFailsTheFreezeAndSetsNothing()
    {
        applyAndShow(QUrl::fromLocalFile(mediaPath(QStringLiteral("not-a-video.mp4"))), 1.0);
        const auto error = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("FFmpeg"));
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());
    }

    void anUnusableDataFolderFailsBeforeAnythingIsWritten()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        const QString blocker = m_dir.filePath(QStringLiteral("a-file"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker));
        applyAndShow(video(QStringLiteral("numbered_10s")), 1.0);
        const auto freezeError = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        const auto lockError = errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(
            video(QStringLiteral("numbered_10s")), QStringLiteral("n"))));
        qputenv("XDG_DATA_HOME", saved);
        QVERIFY(freezeError);
        QCOMPARE(freezeError->domain(), QStringLiteral("FileSystem"));
        QVERIFY(lockError);
        QVERIFY(pictures().writes().isEmpty());
    }

    // updateLockScreenFallback.

    void lockScreenStillsComeFromNearTheEnd_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("frame");
        QTest::newRow("10 s") << "numbered_10s" << 297;
        QTest::newRow("0.15 s") << "numbered_short" << 3;
    }
    void lockScreenStillsComeFromNearTheEnd()
    {
        QFETCH(QString, name);
        QFETCH(int, frame);
        const auto error = errorOf(QCoro::waitFor(
            m_manager->updateLockScreenFallback(video(name), QStringLiteral("id:") + name)));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        const QString path = lockScreenPath(QStringLiteral("id:") + name);
        QVERIFY(showsFrame(path, frame));
        QCOMPARE(writtenScreens(), (QStringList{QStringLiteral("Left"), QStringLiteral("Middle"),
                                                QStringLiteral("Right")}));
        QCOMPARE(pictures().picture(QStringLiteral("Right"))->url, QUrl::fromLocalFile(path));
    }

    void lockScreenStillGoesOnlyToTheRequestedScreens()
    {
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(
                     video(QStringLiteral("numbered_short")), QStringLiteral("n"),
                     QSet<QString>{QStringLiteral("303"), QStringLiteral("101"),
                                   QStringLiteral("999")}))),
                 std::nullopt);
        QCOMPARE(writtenScreens(), (QStringList{QStringLiteral("Left"), QStringLiteral("Right")}));
    }

    void anUnchangedVideoWritesItsStillOnce()
    {
        const QString videoPath = copyOfVideo(QStringLiteral("numbered_short"));
        const QUrl videoURL = QUrl::fromLocalFile(videoPath);
        const QString still = lockScreenPath(QStringLiteral("same"));
        setModified(videoPath, QDateTime::currentDateTime().addSecs(-120));
        QCOMPARE(errorOf(QCoro::waitFor(
                     m_manager->updateLockScreenFallback(videoURL, QStringLiteral("same")))),
                 std::nullopt);
        QVERIFY(QFile::exists(still));

        // Mark the still; a second apply must leave it alone, yet set it again.
        QFile marked(still);
        QVERIFY(marked.open(QIODevice::WriteOnly | QIODevice::Truncate));
        marked.write("marker");
        marked.close();
        QCOMPARE(errorOf(QCoro::waitFor(
                     m_manager->updateLockScreenFallback(videoURL, QStringLiteral("same")))),
                 std::nullopt);
        QFile reread(still);
        QVERIFY(reread.open(QIODevice::ReadOnly));
        QCOMPARE(reread.readAll(), QByteArray("marker"));
        QCOMPARE(pictures().writes().size(), 6);

        // A replaced video file is newer: the still is written afresh.
        setModified(videoPath, QDateTime::currentDateTime().addSecs(60));
        QCOMPARE(errorOf(QCoro::waitFor(
                     m_manager->updateLockScreenFallback(videoURL, QStringLiteral("same")))),
                 std::nullopt);
        QVERIFY(showsFrame(still, 3));
    }

    void aFailingScreenEndsTheUpdateAndLeavesLaterScreensAlone()
    {
        const Error refused(QStringLiteral("DesktopPictures"), 7, QStringLiteral("refused"));
        pictures().failWritesFor(QStringLiteral("Middle"), refused);
        const auto error = errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(
            video(QStringLiteral("numbered_short")), QStringLiteral("n"))));
        QCOMPARE(error, std::optional(refused));
        QCOMPARE(writtenScreens(), QStringList{QStringLiteral("Left")});
        QVERIFY(!pictures().picture(QStringLiteral("Right")));

        applyAndShow(video(QStringLiteral("numbered_10s")), 1.0);
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::optional(refused));
        QCOMPARE(pictures().picture(QStringLiteral("Left"))->url,
                 QUrl::fromLocalFile(frozenPath()));
        QVERIFY(!pictures().picture(QStringLiteral("Right")));
    }

    void aBadVideoFailsTheUpdateAndSetsNothing()
    {
        const auto error = errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(
            QUrl::fromLocalFile(mediaPath(QStringLiteral("truncated.mp4"))), QStringLiteral("t"))));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("FFmpeg"));
        QVERIFY(!QFile::exists(lockScreenPath(QStringLiteral("t"))));
        QVERIFY(pictures().writes().isEmpty());
    }
};

LUMIVALE_TEST_MAIN(TestStills)
#include "tst_stills.moc"
