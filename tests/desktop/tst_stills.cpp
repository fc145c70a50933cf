// The frozen frame and the lock-screen still: which frame of the video, the
// JPEG's pixels against FFmpeg's own decode, the file names, when a still is
// rewritten, and where the pictures are set.

#include "cache/posterframeextractor.h"
#include "desktop/framewriter.h"
#include "desktop/stills.h"
#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/manualclock.h"
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
using ScreenIDs = std::optional<QSet<QString>>;

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

// Whether a picture shows numbered frame `n` (each one flat grey): its grey is that frame's and
// nearer to it than to the frames on either side (levels repeat only every
// 220 frames, so the neighbours are what a wrong decode lands on).
bool showsFrame(const QString &path, int n)
{
    const QImage image(path);
    if (image.isNull())
        return false;
    const double grey = qGray(image.pixel(image.width() / 2, image.height() / 2));
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
    ManualClock m_clock; // screen changes wait for it
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<WallpaperManager> m_manager;

    FakeDesktopPictures &pictures() { return m_platform->desktopPictures(); }
    QString writtenScreens() const
    {
        QStringList names;
        for (const auto &[name, picture] : m_platform->desktopPictures().writes())
            names.append(name);
        return names.join(u' ');
    }
    // Applies `file` and lets every player show it at `playerSeconds`.
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
    std::optional<Error> freeze()
    {
        return errorOf(QCoro::waitFor(m_manager->freezeCurrentFrame()));
    }
    std::optional<Error> updateLockScreen(const QUrl &file, const QString &id,
                                          const ScreenIDs &screens = std::nullopt)
    {
        return errorOf(QCoro::waitFor(m_manager->updateLockScreenFallback(file, id, screens)));
    }
    QString frozenPath() const { return dataFolder() + u"/FrozenWallpaper.jpg"_s; }
    QString lockScreenPath(const QString &id)
    {
        return stills::lockScreenFallbackURL(id).value_or(QUrl()).toLocalFile();
    }

private Q_SLOTS:
    void init()
    {
        m_manager.reset(); // before the platform and defaults it uses
        QDir(dataFolder()).removeRecursively();
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({left, middle, right});
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"d.json"_s));
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults, m_clock);
    }

    void framesAreTakenAtTheExactTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("frame");
        QTest::newRow("start of a frame") << 0.1 << 3;
        QTest::newRow("inside a frame") << 0.12 << 3;
        QTest::newRow("just before a frame") << 0.099 << 2;
        QTest::newRow("after a key frame") << 2.5 << 75;
        QTest::newRow("just before a key frame") << 3.99 << 119;
        QTest::newRow("past the end") << 20.0 << 299;
        QTest::newRow("zero means 0.1 s") << 0.0 << 3;
        QTest::newRow("negative means 0.1 s") << -4.0 << 3;
        QTest::newRow("not a number means 0.1 s") << double(NAN) << 3;
    }
    void framesAreTakenAtTheExactTime()
    {
        QFETCH(double, seconds);
        QFETCH(int, frame);
        const QString out = m_dir.filePath(u"frame.jpg"_s);
        QCOMPARE(errorOf(framewriter::writeFrame(video(u"numbered_10s"_s), seconds,
                                                 QUrl::fromLocalFile(out))),
                 std::nullopt);
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
        QCOMPARE_LT(meanDifference(still, reference), 4.0);
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
            QCOMPARE_LT(std::abs(aspect / expectedAspect - 1), 0.03);
            const QImage same = image.scaled(expected.size()).convertToFormat(QImage::Format_RGB32);
            QCOMPARE_LT(meanDifference(same, expected), 8.0);
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
        const auto frame = framewriter::decodeFrame(mediaPath(u"pattern"_s), 1.0, screen);
        QVERIFY(frame);
        QTEST(frame->size(), "still");
    }

    // The writer fails with the error of what went wrong, naming the file, and
    // writes nothing; the freeze and the lock-screen update fail alike on a bad
    // video and set no picture.
    void badFilesFailWithoutWritingAnything_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("destination"); // in the test's folder
        QTest::addColumn<QString>("domain");
        QTest::newRow("text") << mediaPath(u"not-a-video.mp4"_s) << u"bad.jpg"_s << u"FFmpeg"_s;
        QTest::newRow("empty") << mediaPath(u"empty.mp4"_s) << u"bad.jpg"_s << u"FFmpeg"_s;
        QTest::newRow("truncated") << mediaPath(u"truncated.mp4"_s) << u"bad.jpg"_s << u"FFmpeg"_s;
        QTest::newRow("missing") << u"/nonexistent/video.mp4"_s << u"bad.jpg"_s << u"FFmpeg"_s;
        QTest::newRow("unwritable destination")
            << mediaPath(u"pattern"_s) << u"missing-folder/frame.jpg"_s << u"FileSystem"_s;
    }
    void badFilesFailWithoutWritingAnything()
    {
        QFETCH(QString, file);
        QFETCH(QString, destination);
        QFETCH(QString, domain);
        const QString out = m_dir.filePath(destination);
        QFile::remove(out);
        const QUrl url = QUrl::fromLocalFile(file);
        const auto error = errorOf(framewriter::writeFrame(url, 1.0, QUrl::fromLocalFile(out)));
        QVERIFY(error);
        QCOMPARE(error->domain(), domain);
        QVERIFY(error->description().contains(domain == u"FFmpeg" ? file : out));
        QVERIFY(!QFile::exists(out));
        if (domain != u"FFmpeg")
            return;

        QCOMPARE(updateLockScreen(url, u"t"_s).value_or(Error()).domain(), u"FFmpeg"_s);
        QVERIFY(!QFile::exists(lockScreenPath(u"t"_s)));
        applyAndShow(url, 1.0);
        QCOMPARE(freeze().value_or(Error()).domain(), u"FFmpeg"_s);
        QVERIFY(!QFile::exists(frozenPath()));
        QVERIFY(pictures().writes().isEmpty());
    }

    void anEmptyImageIsAnEncodingError()
    {
        const auto error = errorOf(framewriter::writeJpeg(QImage(), m_dir.filePath(u"x"_s)));
        QCOMPARE(error, std::optional(framewriter::encodeError()));
    }

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

    void unknownLengthsTakeTheLockScreenStillAtPointOne()
    {
        QCOMPARE(stills::lockScreenFrameSeconds(std::nullopt), 0.1);
        QCOMPARE(stills::lockScreenFrameSeconds(double(INFINITY)), 0.1);
    }

    // The frame on screen freezes: the first window's shown player at its time
    // (0.1 s at time zero or while nothing shows yet; not a video still being
    // prepared), set without options on the target screens, or on every screen
    // when none of them is connected. Without a wallpaper nothing is written.
    void freezingTakesTheFrameOnScreen_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("frame"); // -1: nothing written
        QTest::addColumn<QString>("screens");
        QTest::newRow("shown at time zero") << "zero" << 3 << "Left Middle Right";
        QTest::newRow("players still loading") << "loading" << 3 << "Left Middle Right";
        QTest::newRow("first window, during a hand-over") << "two" << 150 << "Middle Right";
        QTest::newRow("no target screen connected") << "unplugged" << 30 << "Middle Right";
        QTest::newRow("no wallpaper") << "none" << -1 << "";
        QTest::newRow("stopped") << "stopped" << -1 << "";
    }
    void freezingTakesTheFrameOnScreen()
    {
        QFETCH(QString, setup);
        QFETCH(int, frame);
        QFETCH(QString, screens);
        const QUrl numbered = video(u"numbered_10s"_s);
        if (setup == u"loading")
            m_manager->apply(numbered, u"n"_s);
        else if (setup != u"none")
            applyAndShow(numbered, setup == u"zero" ? 0 : 1.0);
        if (setup == u"two") {
            const QSet<QString> targets{u"202"_s, u"303"_s};
            m_manager->apply(numbered, u"n"_s, targets);
            // Screen 202 comes first in the window map.
            const auto playerOn = [this](const QString &id) {
                return static_cast<FakeVideoPlayer *>(m_manager->windows().at(id)->player());
            };
            playerOn(u"202"_s)->setCurrentTime(5.0);
            playerOn(u"303"_s)->setCurrentTime(7.0);
            m_manager->apply(video(u"pattern"_s), u"p"_s, targets);
        } else if (setup == u"unplugged") {
            m_manager->apply(numbered, u"n"_s, QSet<QString>{u"101"_s});
            m_platform->screens().setScreens({middle, right});
        } else if (setup == u"stopped") {
            m_manager->stop();
        }
        QCOMPARE(freeze(), std::nullopt);
        QCOMPARE(writtenScreens(), screens);
        if (frame < 0) {
            QVERIFY(!QFile::exists(frozenPath()));
            return;
        }
        QVERIFY(showsFrame(frozenPath(), frame));
        const auto picture = pictures().picture(u"Middle"_s);
        QCOMPARE(picture->url, QUrl::fromLocalFile(frozenPath()));
        QVERIFY(picture->options.isEmpty());
    }

    void anUnusableDataFolderFailsBeforeAnythingIsWritten()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        // A file where the data folder's parent should be.
        qputenv("XDG_DATA_HOME", QFile::encodeName(mediaPath(u"empty.mp4"_s)));
        applyAndShow(video(u"numbered_10s"_s), 1.0);
        const auto freezeError = freeze();
        const auto lockError = updateLockScreen(video(u"numbered_10s"_s), u"n"_s);
        qputenv("XDG_DATA_HOME", saved);
        QCOMPARE(freezeError.value_or(Error()).domain(), u"FileSystem"_s);
        QVERIFY(lockError);
        QVERIFY(pictures().writes().isEmpty());
    }

    // updateLockScreenFallback: a frame from near the end, on the requested
    // screens that are connected.

    void lockScreenStillsComeFromNearTheEnd_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("frame");
        QTest::addColumn<ScreenIDs>("request");
        QTest::addColumn<QString>("screens");
        QTest::newRow("10 s") << "numbered_10s" << 297 << ScreenIDs() << "Left Middle Right";
        QTest::newRow("0.15 s") << "numbered_short" << 3 << ScreenIDs() << "Left Middle Right";
        QTest::newRow("requested screens")
            << "numbered_short" << 3 << ScreenIDs(QSet<QString>{u"303"_s, u"101"_s, u"999"_s})
            << "Left Right";
    }
    void lockScreenStillsComeFromNearTheEnd()
    {
        QFETCH(QString, name);
        QFETCH(int, frame);
        QFETCH(ScreenIDs, request);
        QFETCH(QString, screens);
        QCOMPARE(updateLockScreen(video(name), u"id:"_s + name, request), std::nullopt);
        const QString path = lockScreenPath(u"id:"_s + name);
        QVERIFY(showsFrame(path, frame));
        QCOMPARE(writtenScreens(), screens);
        QCOMPARE(pictures().picture(u"Right"_s)->url, QUrl::fromLocalFile(path));
    }

    void anUnchangedVideoWritesItsStillOnce()
    {
        // A copy of a test video, whose modification date the test moves.
        const QString videoPath = m_dir.filePath(u"copy.mp4"_s);
        QFile video(videoPath);
        QVERIFY(QFile::copy(mediaPath(u"numbered_short"_s), videoPath) &&
                video.open(QFile::ReadWrite));
        const QUrl videoURL = QUrl::fromLocalFile(videoPath);
        const QString still = lockScreenPath(u"same"_s);
        const auto modified = QFileDevice::FileModificationTime;
        QVERIFY(video.setFileTime(QDateTime::currentDateTime().addSecs(-120), modified));
        QCOMPARE(updateLockScreen(videoURL, u"same"_s), std::nullopt);
        QVERIFY(QFile::exists(still));

        // Mark the still; a second apply must leave it alone, yet set it again.
        QFile marked(still);
        QVERIFY(marked.open(QIODevice::WriteOnly | QIODevice::Truncate));
        marked.write("marker");
        marked.close();
        QCOMPARE(updateLockScreen(videoURL, u"same"_s), std::nullopt);
        QVERIFY(marked.open(QIODevice::ReadOnly));
        QCOMPARE(marked.readAll(), QByteArray("marker"));
        QCOMPARE(pictures().writes().size(), 6);

        // A replaced video file is newer: the still is written afresh.
        QVERIFY(video.setFileTime(QDateTime::currentDateTime().addSecs(60), modified));
        QCOMPARE(updateLockScreen(videoURL, u"same"_s), std::nullopt);
        QVERIFY(showsFrame(still, 3));
        // A video whose date cannot be read counts as newer than any still.
        QVERIFY(stills::fallbackNeedsRegeneration(QUrl::fromLocalFile(u"/nonexistent.mp4"_s),
                                                  QUrl::fromLocalFile(still)));
    }

    void aFailingScreenEndsTheUpdateAndLeavesLaterScreensAlone()
    {
        const Error refused(u"DesktopPictures"_s, 7, u"refused"_s);
        pictures().failWritesFor(u"Middle"_s, refused);
        QCOMPARE(updateLockScreen(video(u"numbered_short"_s), u"n"_s), std::optional(refused));
        QCOMPARE(writtenScreens(), u"Left"_s);
        QVERIFY(!pictures().picture(u"Right"_s));

        applyAndShow(video(u"numbered_10s"_s), 1.0);
        QCOMPARE(freeze(), std::optional(refused));
        QCOMPARE(pictures().picture(u"Left"_s)->url, QUrl::fromLocalFile(frozenPath()));
        QVERIFY(!pictures().picture(u"Right"_s));
    }
};

LUMIVALE_TEST_MAIN(TestStills)
#include "tst_stills.moc"
