#include "desktop/previousdesktopstore.h"
#include "desktop/stills.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;
using namespace lumivale::fake;
using namespace Qt::StringLiterals;
using Picture = FakeDesktopPictures::Picture;

namespace {
const QString key = u"previousDesktopSnapshots"_s;
const Screen left{u"Left"_s, 101, QRect(0, 0, 1920, 1080)};
const Screen right{u"Right"_s, 202, QRect(1920, 0, 1280, 1024)};
} // namespace

class TestPreviousDesktopStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<PreviousDesktopStore> m_store;
    QString m_hills, m_beach;

    QString makePicture(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("jpeg");
        return path;
    }
    FakeDesktopPictures &pictures() { return m_platform->desktopPictures(); }
    QUrl pictureOf(const QString &screen)
    {
        return pictures().picture(screen).value_or(Picture{}).url;
    }

private Q_SLOTS:
    void init()
    {
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({left, right});
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"d.json"_s));
        m_defaults->remove(key);
        m_store = std::make_unique<PreviousDesktopStore>(key, *m_defaults, m_platform->screens(),
                                                         pictures());
        m_hills = makePicture(u"hills.jpg"_s);
        m_beach = makePicture(u"beach.png"_s);
    }

    // The stored form is the documented JSON: option values as texts, only
    // for screens with a picture; a restore gives whole numbers back typed.
    void captureStoresEveryScreenWithAPictureAndRestoreTypesIt()
    {
        pictures().setPicture(u"Left"_s, {QUrl::fromLocalFile(m_hills),
                                          {{u"scaling"_s, 3},
                                           {u"clip"_s, true},
                                           {u"mode"_s, u"zoom"_s},
                                           {u"fill"_s, QVariant::fromValue(QColor(Qt::red))}}});
        m_store->captureIfNeeded();
        const QJsonArray array = QJsonDocument::fromJson(*m_defaults->data(key)).array();
        QCOMPARE(array.size(), 1); // the right screen has no picture
        const QJsonObject options{
            {u"scaling"_s, u"3"_s}, {u"clip"_s, u"1"_s}, {u"mode"_s, u"zoom"_s}};
        QCOMPARE(array.first().toObject(), (QJsonObject{{u"screenID"_s, u"101"_s},
                                                        {u"screenName"_s, u"Left"_s},
                                                        {u"imagePath"_s, m_hills},
                                                        {u"options"_s, options}}));

        pictures().setPicture(u"Left"_s, {QUrl::fromLocalFile(m_beach), {}});
        QCOMPARE(errorOf(m_store->restore()), std::nullopt);
        const Picture restored = *pictures().picture(u"Left"_s);
        QCOMPARE(restored.url, QUrl::fromLocalFile(m_hills));
        QCOMPARE(restored.options, (QVariantMap{{u"scaling"_s, qlonglong(3)},
                                                {u"clip"_s, qlonglong(1)},
                                                {u"mode"_s, u"zoom"_s}}));
    }

    void firstSnapshotIsNeverOverwritten()
    {
        pictures().setPicture(u"Left"_s, {QUrl::fromLocalFile(m_hills), {}});
        m_store->captureIfNeeded();
        const QByteArray first = *m_defaults->data(key);
        pictures().setPicture(u"Left"_s, {QUrl::fromLocalFile(m_beach), {}});
        m_store->captureIfNeeded();
        QCOMPARE(*m_defaults->data(key), first);

        // Even data that does not decode blocks a new capture.
        m_defaults->setData(key, "garbage");
        m_store->captureIfNeeded();
        QCOMPARE(*m_defaults->data(key), QByteArray("garbage"));
    }

    void noPicturesMeansNothingStoredAndALaterTry()
    {
        m_store->captureIfNeeded();
        QVERIFY(!m_defaults->contains(key));
        // Our own stills are not the user's pictures: they count as none.
        const QString ours = *stills::supportDirectory();
        pictures().setPicture(u"Left"_s,
                              {QUrl::fromLocalFile(ours + u"/FrozenWallpaper.jpg"_s), {}});
        pictures().setPicture(
            u"Right"_s, {QUrl::fromLocalFile(ours + u"/LockScreenFallback-aurora.jpg"_s), {}});
        m_store->captureIfNeeded();
        QVERIFY(!m_defaults->contains(key));
        pictures().setPicture(u"Right"_s, {QUrl::fromLocalFile(m_beach), {}});
        m_store->captureIfNeeded();
        QVERIFY(m_defaults->data(key));
    }

    void restoreWithNothingSavedFails_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("keptAfter");
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("empty array") << QByteArray("[]") << true;
        QTest::newRow("not json") << QByteArray("{oops") << true;
        QTest::newRow("not an array") << QByteArray(R"({"screenID":"1"})") << true;
        QTest::newRow("member missing")
            << QByteArray(R"([{"screenID":"1","screenName":"a","imagePath":"/x"}])") << true;
        QTest::newRow("number instead of string")
            << QByteArray(R"([{"screenID":1,"screenName":"a","imagePath":"/x","options":{}}])")
            << true;
        QTest::newRow("option not a string")
            << QByteArray(
                   R"([{"screenID":"1","screenName":"a","imagePath":"/x","options":{"s":3}}])")
            << true;
    }
    void restoreWithNothingSavedFails()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, keptAfter);
        if (!stored.isNull())
            m_defaults->setData(key, stored);
        const Error nothingSaved(u"WallpaperManager"_s, 2,
                                 u"No previous macOS wallpaper snapshot was saved"_s);
        QCOMPARE(errorOf(m_store->restore()), std::optional(nothingSaved));
        QVERIFY(pictures().writes().isEmpty());
        QCOMPARE(m_defaults->contains(key), keptAfter);
        if (keptAfter)
            QCOMPARE(*m_defaults->data(key), stored);
    }

    // A picture whose file is gone is skipped; the rest are set, and the
    // snapshot is forgotten.
    void restoreMatchesByIDThenNameThenFirst()
    {
        const QList<PreviousDesktopStore::Snapshot> saved{
            {u"999"_s, u"Right"_s, m_beach, {}},
            {u"101"_s, u"Renamed"_s, m_hills, {}},
            {u"303"_s, u"Third"_s, m_dir.filePath(u"gone.jpg"_s), {}},
        };
        m_defaults->setData(key, PreviousDesktopStore::encode(saved));
        const Screen third{u"Third"_s, 303, QRect(0, 1080, 800, 600)};
        const Screen fourth{u"Fourth"_s, 404, QRect(800, 1080, 800, 600)};
        m_platform->screens().setScreens({left, right, third, fourth});

        QCOMPARE(errorOf(m_store->restore()), std::nullopt);
        QCOMPARE(pictureOf(u"Left"_s), QUrl::fromLocalFile(m_hills));   // by number
        QCOMPARE(pictureOf(u"Right"_s), QUrl::fromLocalFile(m_beach));  // by name
        QVERIFY(!pictures().picture(u"Third"_s));                       // gone
        QCOMPARE(pictureOf(u"Fourth"_s), QUrl::fromLocalFile(m_beach)); // first
        QVERIFY(!m_defaults->contains(key));
    }

    void failingWriteStopsAndKeepsTheSnapshot()
    {
        const QByteArray stored = PreviousDesktopStore::encode(
            {{u"101"_s, u"Left"_s, m_hills, {}}, {u"202"_s, u"Right"_s, m_beach, {}}});
        m_defaults->setData(key, stored);
        const Error refused(u"DesktopPictures"_s, 5, u"refused"_s);
        m_platform->screens().setScreens({right, left});
        pictures().failWritesFor(u"Right"_s, refused);

        QCOMPARE(errorOf(m_store->restore()), std::optional(refused));
        QVERIFY(!pictures().picture(u"Left"_s)); // after the failure: untouched
        QCOMPARE(*m_defaults->data(key), stored);
    }

    void optionTextsComeBackAsNumbersOnlyWhenWholeIntegers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("digits") << u"3"_s << QVariant(qlonglong(3));
        QTest::newRow("plus") << u"+42"_s << QVariant(qlonglong(42));
        QTest::newRow("minus") << u"-7"_s << QVariant(qlonglong(-7));
        QTest::newRow("leading zeros") << u"007"_s << QVariant(qlonglong(7));
        using limits = std::numeric_limits<qlonglong>;
        QTest::newRow("int64 max") << u"9223372036854775807"_s << QVariant(limits::max());
        QTest::newRow("int64 min") << u"-9223372036854775808"_s << QVariant(limits::min());
        QTest::newRow("too big") << u"9223372036854775808"_s << QVariant(u"9223372036854775808"_s);
        QTest::newRow("empty") << QString() << QVariant(QString());
        QTest::newRow("lone sign") << u"-"_s << QVariant(u"-"_s);
        QTest::newRow("letters") << u"12px"_s << QVariant(u"12px"_s);
        QTest::newRow("blank") << u" 1"_s << QVariant(u" 1"_s);
        QTest::newRow("decimal") << u"1.5"_s << QVariant(u"1.5"_s);
        QTest::newRow("arabic digits") << u"\u0661"_s << QVariant(u"\u0661"_s);
        QTest::newRow("double sign") << u"+-1"_s << QVariant(u"+-1"_s);
    }
    void optionTextsComeBackAsNumbersOnlyWhenWholeIntegers()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        const QVariantMap options = PreviousDesktopStore::optionsFromText({{u"k"_s, text}});
        QCOMPARE(options.value(u"k"_s).typeId(), value.typeId());
        QCOMPARE(options.value(u"k"_s), value);
    }
};

LUMIVALE_TEST_MAIN(TestPreviousDesktopStore)
#include "tst_previousdesktopstore.moc"
