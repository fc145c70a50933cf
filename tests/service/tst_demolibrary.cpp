// The demo library that scripts/run serves: every clip plays, is 1080p H.264
// of the promised length, and loops without a visible seam.

#include "service/library.h"
#include "service/videoprobe.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lumivale;
using namespace lumivale::service;

namespace {

// One frame as 96×54 grey pixels; the last one when `last`.
QByteArray greyFrame(const QString &clip, bool last)
{
    QProcess ffmpeg;
    QStringList arguments{u"-hide_banner"_s, u"-loglevel"_s, u"error"_s};
    if (last)
        arguments << u"-sseof"_s << u"-0.3"_s;
    arguments << u"-i"_s << clip;
    if (!last)
        arguments << u"-frames:v"_s << u"1"_s;
    // The frames decoded, back to back; the last of them is the clip's last.
    arguments << u"-vf"_s << u"scale=96:54"_s << u"-pix_fmt"_s << u"gray"_s << u"-f"_s
              << u"rawvideo"_s << u"pipe:1"_s;
    ffmpeg.start(u"ffmpeg"_s, arguments);
    ffmpeg.waitForFinished(60000);
    return ffmpeg.readAllStandardOutput().right(96 * 54);
}

double meanDifference(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return 255;
    double sum = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        sum += std::abs(int(uchar(a[i])) - int(uchar(b[i])));
    return sum / double(a.size());
}

} // namespace

class TestDemoLibrary : public QObject
{
    Q_OBJECT

    QList<LibraryEntry> m_entries;

private Q_SLOTS:
    void initTestCase()
    {
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedChannels);
        script.start(u"" LUMIVALE_DEMO_SCRIPT ""_s, {u"" LUMIVALE_DEMO_DIR ""_s, u"--catalog"_s,
                                                     u"" LUMIVALE_CATALOG_EXECUTABLE ""_s});
        QVERIFY(script.waitForFinished(1100 * 1000));
        QCOMPARE(script.exitCode(), 0);
        const auto entries = readLibrary(u"" LUMIVALE_DEMO_DIR ""_s);
        QCOMPARE(errorOf(entries), std::nullopt);
        m_entries = *entries;
        QVERIFY(m_entries.size() >= 10);
        QSet<QString> categories;
        for (const LibraryEntry &entry : m_entries)
            categories.insert(entry.category);
        const QSet<QString> home{u"Nature"_s, u"Space"_s, u"Anime"_s,  u"Pixel"_s,
                                 u"Lofi"_s,   u"Cars"_s,  u"Animals"_s};
        QVERIFY(categories.intersect(home).size() >= 4);
    }

    void clips_data()
    {
        QTest::addColumn<QString>("file");
        for (const LibraryEntry &entry : std::as_const(m_entries))
            QTest::newRow(qPrintable(entry.id)) << entry.file;
    }
    void clips()
    {
        QFETCH(QString, file);
        const QString path = u"" LUMIVALE_DEMO_DIR "/"_s + file;
        const auto facts = probeVideo(path);
        QCOMPARE(errorOf(facts), std::nullopt);
        QCOMPARE(QSize(facts->width, facts->height), QSize(1920, 1080));
        QVERIFY2(facts->durationSeconds >= 5.9 && facts->durationSeconds <= 12.1,
                 qPrintable(QString::number(facts->durationSeconds)));

        // H.264 in yuv420p, with its index before the media data (faststart).
        QProcess probe;
        probe.start(u"ffprobe"_s,
                    {u"-v"_s, u"error"_s, u"-select_streams"_s, u"v:0"_s, u"-show_entries"_s,
                     u"stream=codec_name,pix_fmt"_s, u"-of"_s, u"csv=p=0"_s, path});
        probe.waitForFinished(30000);
        QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("h264,yuv420p"));
        QFile video(path);
        QVERIFY(video.open(QIODevice::ReadOnly));
        const QByteArray head = video.read(64 * 1024);
        const qsizetype moov = head.indexOf("moov"), mdat = head.indexOf("mdat");
        QVERIFY(moov >= 0 && (mdat < 0 || moov < mdat));

        // The last frame flows into the first.
        const double seam = meanDifference(greyFrame(path, false), greyFrame(path, true));
        QVERIFY2(seam < 6.0, qPrintable(u"first and last frames differ by %1 of 255"_s.arg(seam)));
    }
};

LUMIVALE_TEST_MAIN(TestDemoLibrary)
#include "tst_demolibrary.moc"
