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
using namespace Qt::StringLiterals;

namespace {
const Screen left{u"Left"_s, 101, QRect(0, 0, 1920, 1080)};
const Screen middle{u"Middle"_s, 202, QRect(1920, 0, 1280, 1024)};
const Screen right{u"Right"_s, 303, QRect(3200, 0, 800, 600)};

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

// The frame the ffmpeg command line decodes at `seconds`, through `filter`
// if any, as a lossless PNG.
QImage referenceFrame(const QString &videoPath, double seconds, const QString &pngPath,
                      const QString &filter = {})
{
    QStringList arguments = u"-hide_banner -loglevel error -y -ss"_s.split(u' ');
    arguments << QString::number(seconds) << u"-i"_s << videoPath;
    if (!filter.isEmpty())
        arguments << u"-vf"_s << filter;
    QProcess::execute(u"ffmpeg"_s, arguments << u"-frames:v"_s << u"1"_s << pngPath);
    return QImage(pngPath);
}

// Screen names, as the desktop pictures list their writes.
QStringList names(const QString &spaced)
{
    return spaced.split(u' ');
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
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Lumivale"_s;
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
        m_manager->apply(file, u"numbered"_s);
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            for (FakeVideoPlayer *player : surface->layers()) {
                player->reportStatus(Status::ReadyToPlay);
                player->setCurrentTime(playerSeconds);
            }
        }
        QCoreApplication::processEvents();
    }
    QString frozenPath() const { return dataFolder() + u"/FrozenWallpaper.jpg"_s; }
    QString lockScreenPath(const QString &id)
    {
        return stills::lockScreenFallbackURL(id).value_or(QUrl()).toLocalFile();
    }
    // A copy of a test video whose modification date the test may move.
    QString copyOfVideo(const QString &name)
    {
        const QString path = m_dir.filePath(name + u"-copy.mp4"_s);
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
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"d.json"_s));
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
        const QString out = m_dir.filePath(u"frame.jpg"_s);
        const auto error =
            errorOf(framewriter::writeFrame(video(name), seconds, QUrl::fromLocalFile(out)));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        QVERIFY(showsFrame(out, frame));
    }

    void jpegMatchesTheDecodedFrame()
    {
        const QString out = m_dir.filePath(u"pattern.jpg"_s);
        QCOMPARE(
            errorOf(framewriter::writeFrame(video(u"pattern"_s), 1.5, QUrl::fromLocalFile(out))),
            std::nullopt);
        const QImage still(out);
        const QImage reference =
            referenceFrame(mediaPath(u"pattern"_s), 1.5, m_dir.filePath(u"pattern.png"_s));
        QCOMPARE(still.size(), QSize(320, 240));
        QCOMPARE(reference.size(), still.size());
        QVERIFY2(meanDifference(still, reference) < 4,
                 qPrintable(QString::number(meanDifference(still, reference))));
        // A neighbouring frame of the moving pattern is measurably further off.
        const QImage neighbour =
            referenceFrame(mediaPath(u"pattern"_s), 1.2, m_dir.filePath(u"n.png"_s));
        QVERIFY(meanDifference(still, neighbour) > meanDifference(still, reference) + 1);
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
            path = m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()) + u".mp4"_s);
            QVERIFY(withDisplayMatrix(mediaPath(name), path, matrix));
        }
        const QString png = m_dir.filePath(u"reference.png"_s);
        QFile::remove(png);
        const QImage reference = referenceFrame(path, 1, png, u"scale=iw*sar:ih,setsar=1"_s);
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
                     qPrintable(u"%1x%2 against %3x%4"_s.arg(image.width())
                                    .arg(image.height())
                                    .arg(expected.width())
                                    .arg(expected.height())));
            const QImage same = image.scaled(expected.size()).convertToFormat(QImage::Format_RGB32);
            QVERIFY2(meanDifference(same, expected) < 8,
                     qPrintable(QString::number(meanDifference(same, expected))));
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
        const auto frame = framewriter::decodeFrame(mediaPath(u"pattern"_s), 1.0, screen);
        QVERIFY(frame);
        QCOMPARE(frame->size(), still);
    }

    void badFilesFailWithoutWritingAnything_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("text") << mediaPath(u"not-a-video.mp4"_s);
        QTest::newRow("empty") << mediaPath(u"empty.mp4"_s);
        QTest::newRow("truncated") << mediaPath(u"truncated.mp4"_s);
        QTest::newRow("missing") << u"/nonexistent/video.mp4"_s;
    }
    // The writer, the freeze and the lock-screen update fail alike, and
    // neither write a file nor set a picture.
    void badFilesFailWithoutWritingAnything()
    {
        QFETCH(QString, file);
        const QString out = m_dir.filePath(u"bad.jpg"_s);
        QFile::remove(out);
        const QUrl url = QUrl::fromLocalFile(file);
        const auto error = errorOf(framewriter::writeFrame(url, 1.0, QUrl::fromLocalFile(out)));
        QVERIFY(error);
        QCOMPARE(error->domain(), u"FFmpeg"_s);
        QVERIFY(error->description().contains(file));
        QVERIFY(!QFile::exists(out));

        const auto updateError =
            errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(url, u"t"_s)));
        QVERIFY(updateError);
        QCOMPARE(updateError->domain(), u"FFmpeg"_s);
        QVERIFY(!QFile::exists(lockScreenPath(u"t"_s)));
        applyAndShow(url, 1.0);
        const auto freezeError = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        QVERIFY(freezeError);
        QCOMPARE(freezeError->domain(), u"FFmpeg"_s);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());
    }

    void anUnwritableDestinationFailsAndKeepsTheOldFile()
    {
        const QString out = m_dir.filePath(u"missing-folder/frame.jpg"_s);
        const auto error =
            errorOf(framewriter::writeFrame(video(u"pattern"_s), 1.0, QUrl::fromLocalFile(out)));
        QVERIFY(error);
        QCOMPARE(error->domain(), u"FileSystem"_s);
        QVERIFY(error->description().contains(out));
    }

    void anEmptyImageIsAnEncodingError()
    {
        const auto error = errorOf(framewriter::writeJpeg(QImage(), m_dir.filePath(u"x"_s)));
        QCOMPARE(error, std::optional(framewriter::encodeError()));
        QCOMPARE(error->description(), u"Failed to encode frozen wallpaper frame"_s);
        QCOMPARE(error->code(), 1);
    }

    // Names and dates.

    void wallpaperIDsAreSanitised_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("suffix"); // after "LockScreenFallback"
        QTest::newRow("plain") << u"aurora"_s << u"-aurora"_s;
        QTest::newRow("punctuation inside") << u"a/b..c"_s << u"-a-b-c"_s;
        QTest::newRow("same pieces, other punctuation") << u" a b c "_s << u"-a-b-c"_s;
        QTest::newRow("only punctuation") << u"../!?"_s << QString();
        QTest::newRow("empty") << u""_s << QString();
        QTest::newRow("letters and digits of any script") << u"Café_東京 2"_s << u"-Café-東京-2"_s;
        QTest::newRow("combining mark stays") << u"e\u0301t\u00e9"_s << u"-e\u0301t\u00e9"_s;
        QTest::newRow("letter outside the basic plane") << u"\U0001D49C-x"_s << u"-\U0001D49C-x"_s;
        QTest::newRow("emoji is not a letter") << u"sun\U0001F31Eset"_s << u"-sun-set"_s;
    }
    void wallpaperIDsAreSanitised()
    {
        QFETCH(QString, id);
        QFETCH(QString, suffix);
        QCOMPARE(lockScreenPath(id), dataFolder() + u"/LockScreenFallback"_s + suffix + u".jpg"_s);
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
        const QString videoPath = copyOfVideo(u"numbered_short"_s);
        const QString picture = m_dir.filePath(u"still.jpg"_s);
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
        QVERIFY(stills::fallbackNeedsRegeneration(QUrl::fromLocalFile(u"/nonexistent.mp4"_s),
                                                  pictureURL));
    }

    // freezeCurrentFrame.

    // At time zero, or while no player shows a frame yet, the frame at 0.1 s
    // freezes, and goes to every screen without options.
    void freezingAtTheStartTakesPointOne_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown at time zero") << true;
        QTest::newRow("players still loading") << false;
    }
    void freezingAtTheStartTakesPointOne()
    {
        QFETCH(bool, shown);
        if (shown)
            applyAndShow(video(u"numbered_10s"_s), 0);
        else
            m_manager->apply(video(u"numbered_10s"_s), u"n"_s);
        const auto error = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        QVERIFY(showsFrame(frozenPath(), 3));
        QCOMPARE(writtenScreens(), names(u"Left Middle Right"_s));
        const auto picture = pictures().picture(u"Left"_s);
        QCOMPARE(picture->url, QUrl::fromLocalFile(frozenPath()));
        QVERIFY(picture->options.isEmpty());
    }

    void freezingTakesTheFirstWindowsTimeAndItsTargetScreens()
    {
        m_manager->apply(video(u"numbered_10s"_s), u"n"_s, QSet<QString>{u"202"_s, u"303"_s});
        const QList<FakeDesktopSurface *> surfaces = m_platform->liveSurfaces();
        QCOMPARE(surfaces.size(), 2);
        for (FakeDesktopSurface *surface : surfaces) {
            FakeVideoPlayer *player = surface->layers().first();
            player->reportStatus(Status::ReadyToPlay);
            // Screen 202 comes first in the window map.
            player->setCurrentTime(surface->screen().name == u"Middle"_s ? 5.0 : 7.0);
        }
        QCoreApplication::processEvents();
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(showsFrame(frozenPath(), 150));
        QCOMPARE(writtenScreens(), names(u"Middle Right"_s));
        // A video still being prepared is not on screen yet: the shown one is
        // what freezes.
        m_manager->apply(video(u"pattern"_s), u"p"_s, QSet<QString>{u"202"_s, u"303"_s});
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(showsFrame(frozenPath(), 150));
    }

    void freezingWithNoTargetScreenConnectedSetsEveryScreen()
    {
        applyAndShow(video(u"numbered_10s"_s), 1.0);
        m_manager->apply(video(u"numbered_10s"_s), u"n"_s, QSet<QString>{u"101"_s});
        m_platform->screens().setScreens({middle, right}); // screen 101 unplugged
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QCOMPARE(writtenScreens(), names(u"Middle Right"_s));
    }

    void freezingWithNoWallpaperWritesAndChangesNothing()
    {
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());

        applyAndShow(video(u"numbered_10s"_s), 1.0);
        m_manager->stop();
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::nullopt);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());
    }

    void anUnusableDataFolderFailsBeforeAnythingIsWritten()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        const QString blocker = m_dir.filePath(u"a-file"_s);
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker));
        applyAndShow(video(u"numbered_10s"_s), 1.0);
        const auto freezeError = errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
        const auto lockError = errorOf(
            QCoro::waitFor(m_manager->updateLockScreenFallback(video(u"numbered_10s"_s), u"n"_s)));
        qputenv("XDG_DATA_HOME", saved);
        QVERIFY(freezeError);
        QCOMPARE(freezeError->domain(), u"FileSystem"_s);
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
        const auto error = errorOf(
            QCoro::waitFor(m_manager->updateLockScreenFallback(video(name), u"id:"_s + name)));
        QVERIFY2(!error, qPrintable(error ? error->debugText() : QString()));
        const QString path = lockScreenPath(u"id:"_s + name);
        QVERIFY(showsFrame(path, frame));
        QCOMPARE(writtenScreens(), names(u"Left Middle Right"_s));
        QCOMPARE(pictures().picture(u"Right"_s)->url, QUrl::fromLocalFile(path));
    }

    void lockScreenStillGoesOnlyToTheRequestedScreens()
    {
        QCOMPARE(
            errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(
                video(u"numbered_short"_s), u"n"_s, QSet<QString>{u"303"_s, u"101"_s, u"999"_s}))),
            std::nullopt);
        QCOMPARE(writtenScreens(), names(u"Left Right"_s));
    }

    void anUnchangedVideoWritesItsStillOnce()
    {
        const QString videoPath = copyOfVideo(u"numbered_short"_s);
        const QUrl videoURL = QUrl::fromLocalFile(videoPath);
        const QString still = lockScreenPath(u"same"_s);
        setModified(videoPath, QDateTime::currentDateTime().addSecs(-120));
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(videoURL, u"same"_s))),
                 std::nullopt);
        QVERIFY(QFile::exists(still));

        // Mark the still; a second apply must leave it alone, yet set it again.
        QFile marked(still);
        QVERIFY(marked.open(QIODevice::WriteOnly | QIODevice::Truncate));
        marked.write("marker");
        marked.close();
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(videoURL, u"same"_s))),
                 std::nullopt);
        QFile reread(still);
        QVERIFY(reread.open(QIODevice::ReadOnly));
        QCOMPARE(reread.readAll(), QByteArray("marker"));
        QCOMPARE(pictures().writes().size(), 6);

        // A replaced video file is newer: the still is written afresh.
        setModified(videoPath, QDateTime::currentDateTime().addSecs(60));
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(videoURL, u"same"_s))),
                 std::nullopt);
        QVERIFY(showsFrame(still, 3));
    }

    void aFailingScreenEndsTheUpdateAndLeavesLaterScreensAlone()
    {
        const Error refused(u"DesktopPictures"_s, 7, u"refused"_s);
        pictures().failWritesFor(u"Middle"_s, refused);
        const auto error = errorOf(QCoro::waitFor(
            m_manager->updateLockScreenFallback(video(u"numbered_short"_s), u"n"_s)));
        QCOMPARE(error, std::optional(refused));
        QCOMPARE(writtenScreens(), QStringList{u"Left"_s});
        QVERIFY(!pictures().picture(u"Right"_s));

        applyAndShow(video(u"numbered_10s"_s), 1.0);
        QCOMPARE(errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame())), std::optional(refused));
        QCOMPARE(pictures().picture(u"Left"_s)->url, QUrl::fromLocalFile(frozenPath()));
        QVERIFY(!pictures().picture(u"Right"_s));
    }
};

LUMIVALE_TEST_MAIN(TestStills)
#include "tst_stills.moc"
