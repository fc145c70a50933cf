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
using Picture = FakeDesktopPictures::Picture;

namespace {
const QString key = QStringLiteral("previousDesktopSnapshots");
const Screen left{QStringLiteral("Left"), 101, QRect(0, 0, 1920, 1080)};
const Screen right{QStringLiteral("Right"), 202, QRect(1920, 0, 1280, 1024)};
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
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("d.json")));
        m_defaults->remove(key);
        m_store = std::make_unique<PreviousDesktopStore>(key, *m_defaults, m_platform->screens(),
                                                         pictures());
        m_hills = makePicture(QStringLiteral("hills.jpg"));
        m_beach = makePicture(QStringLiteral("beach.png"));
    }

    void captureStoresEveryScreenWithAPicture()
    {
        pictures().setPicture(QStringLiteral("Left"),
                              {QUrl::fromLocalFile(m_hills),
                               {{QStringLiteral("scaling"), 3},
                                {QStringLiteral("clip"), true},
                                {QStringLiteral("mode"), QStringLiteral("zoom")},
                                {QStringLiteral("fill"), QVariant::fromValue(QColor(Qt::red))}}});
        m_store->captureIfNeeded();
        const auto snapshots = PreviousDesktopStore::decode(*m_defaults->data(key));
        QVERIFY(snapshots);
        QCOMPARE(snapshots->size(), 1); // the right screen has no picture
        const PreviousDesktopStore::Snapshot &s = snapshots->first();
        QCOMPARE(s.screenID, QStringLiteral("101"));
        QCOMPARE(s.screenName, QStringLiteral("Left"));
        QCOMPARE(s.imagePath, m_hills);
        QCOMPARE(s.options,
                 (QMap<QString, QString>{{QStringLiteral("scaling"), QStringLiteral("3")},
                                         {QStringLiteral("clip"), QStringLiteral("1")},
                                         {QStringLiteral("mode"), QStringLiteral("zoom")}}));
    }

    void storedFormIsTheDocumentedJSON()
    {
        pictures().setPicture(QStringLiteral("Left"),
                              {QUrl::fromLocalFile(m_hills), {{QStringLiteral("scaling"), 2}}});
        m_store->captureIfNeeded();
        const QJsonArray array = QJsonDocument::fromJson(*m_defaults->data(key)).array();
        QCOMPARE(array.size(), 1);
        const QJsonObject object = array.first().toObject();
        QCOMPARE(object.keys(),
                 (QStringList{QStringLiteral("imagePath"), QStringLiteral("options"),
                              QStringLiteral("screenID"), QStringLiteral("screenName")}));
        QCOMPARE(
            object.value(QStringLiteral("options")).toObject().value(QStringLiteral("scaling")),
            QJsonValue(QStringLiteral("2")));
    }

    void firstSnapshotIsNeverOverwritten()
    {
        pictures().setPicture(QStringLiteral("Left"), {QUrl::fromLocalFile(m_hills), {}});
        m_store->captureIfNeeded();
        const QByteArray first = *m_defaults->data(key);
        pictures().setPicture(QStringLiteral("Left"), {QUrl::fromLocalFile(m_beach), {}});
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
        pictures().setPicture(
            QStringLiteral("Left"),
            {QUrl::fromLocalFile(ours + QStringLiteral("/FrozenWallpaper.jpg")), {}});
        pictures().setPicture(
            QStringLiteral("Right"),
            {QUrl::fromLocalFile(ours + QStringLiteral("/LockScreenFallback-aurora.jpg")), {}});
        m_store->captureIfNeeded();
        QVERIFY(!m_defaults->contains(key));
        pictures().setPicture(QStringLiteral("Right"), {QUrl::fromLocalFile(m_beach), {}});
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
        const std::optional<Error> error = errorOf(m_store->restore());
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("WallpaperManager"));
        QCOMPARE(error->code(), 2);
        QCOMPARE(error->description(),
                 QStringLiteral("No previous macOS wallpaper snapshot was saved"));
        QVERIFY(pictures().writes().isEmpty());
        QCOMPARE(m_defaults->contains(key), keptAfter);
        if (keptAfter)
            QCOMPARE(*m_defaults->data(key), stored);
    }

    void restoreMatchesByIDThenNameThenFirst()
    {
        const QList<PreviousDesktopStore::Snapshot> saved{
            {QStringLiteral("999"), QStringLiteral("Right"), m_beach, {}},
            {QStringLiteral("101"), QStringLiteral("Renamed"), m_hills, {}},
        };
        m_defaults->setData(key, PreviousDesktopStore::encode(saved));
        const Screen third{QStringLiteral("Third"), 303, QRect(0, 1080, 800, 600)};
        m_platform->screens().setScreens({left, right, third});

        QCOMPARE(errorOf(m_store->restore()), std::nullopt);
        QCOMPARE(pictureOf(QStringLiteral("Left")), QUrl::fromLocalFile(m_hills));  // by number
        QCOMPARE(pictureOf(QStringLiteral("Right")), QUrl::fromLocalFile(m_beach)); // by name
        QCOMPARE(pictureOf(QStringLiteral("Third")), QUrl::fromLocalFile(m_beach)); // first
        QVERIFY(!m_defaults->contains(key));
        QCOMPARE(m_store->restore().error().code(), 2);
    }

    void missingPictureFileIsSkippedAndSnapshotStillRemoved()
    {
        m_defaults->setData(key,
                            PreviousDesktopStore::encode(
                                {{QStringLiteral("101"),
                                  QStringLiteral("Left"),
                                  m_dir.filePath(QStringLiteral("gone.jpg")),
                                  {}},
                                 {QStringLiteral("202"), QStringLiteral("Right"), m_beach, {}}}));
        QCOMPARE(errorOf(m_store->restore()), std::nullopt);
        QVERIFY(!pictures().picture(QStringLiteral("Left")));
        QCOMPARE(pictureOf(QStringLiteral("Right")), QUrl::fromLocalFile(m_beach));
        QVERIFY(!m_defaults->contains(key));
    }

    void failingWriteStopsAndKeepsTheSnapshot()
    {
        const QByteArray stored = PreviousDesktopStore::encode(
            {{QStringLiteral("101"), QStringLiteral("Left"), m_hills, {}},
             {QStringLiteral("202"), QStringLiteral("Right"), m_beach, {}}});
        m_defaults->setData(key, stored);
        const Error refused(QStringLiteral("DesktopPictures"), 5, QStringLiteral("refused"));
        m_platform->screens().setScreens({right, left});
        pictures().failWritesFor(QStringLiteral("Right"), refused);

        QCOMPARE(errorOf(m_store->restore()), std::optional(refused));
        QVERIFY(!pictures().picture(QStringLiteral("Left"))); // after the failure: untouched
        QCOMPARE(*m_defaults->data(key), stored);
    }

    void optionTextsComeBackAsNumbersOnlyWhenWholeIntegers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("digits") << QStringLiteral("3") << QVariant(qlonglong(3));
        QTest::newRow("plus") << QStringLiteral("+42") << QVariant(qlonglong(42));
        QTest::newRow("minus") << QStringLiteral("-7") << QVariant(qlonglong(-7));
        QTest::newRow("leading zeros") << QStringLiteral("007") << QVariant(qlonglong(7));
        QTest::newRow("int64 max")
            << QStringLiteral("9223372036854775807") << QVariant(qlonglong(9223372036854775807));
        QTest::newRow("int64 min") << QStringLiteral("-9223372036854775808")
                                   << QVariant(std::numeric_limits<qlonglong>::min());
        QTest::newRow("too big") << QStringLiteral("9223372036854775808")
                                 << QVariant(QStringLiteral("9223372036854775808"));
        QTest::newRow("empty") << QString() << QVariant(QString());
        QTest::newRow("lone sign") << QStringLiteral("-") << QVariant(QStringLiteral("-"));
        QTest::newRow("letters") << QStringLiteral("12px") << QVariant(QStringLiteral("12px"));
        QTest::newRow("blank") << QStringLiteral(" 1") << QVariant(QStringLiteral(" 1"));
        QTest::newRow("decimal") << QStringLiteral("1.5") << QVariant(QStringLiteral("1.5"));
        QTest::newRow("arabic digits")
            << QStringLiteral("\u0661") << QVariant(QStringLiteral("\u0661"));
        QTest::newRow("double sign") << QStringLiteral("+-1") << QVariant(QStringLiteral("+-1"));
    }
    void optionTextsComeBackAsNumbersOnlyWhenWholeIntegers()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, value);
        const QVariantMap options =
            PreviousDesktopStore::optionsFromText({{QStringLiteral("k"), text}});
        QCOMPARE(options.value(QStringLiteral("k")).typeId(), value.typeId());
        QCOMPARE(options.value(QStringLiteral("k")), value);
    }

    void restoredOptionsAreTyped()
    {
        pictures().setPicture(
            QStringLiteral("Left"),
            {QUrl::fromLocalFile(m_hills),
             {{QStringLiteral("scaling"), 2}, {QStringLiteral("mode"), QStringLiteral("zoom")}}});
        m_store->captureIfNeeded();
        pictures().setPicture(QStringLiteral("Left"), {QUrl::fromLocalFile(m_beach), {}});
        QCOMPARE(errorOf(m_store->restore()), std::nullopt);
        const Picture restored = *pictures().picture(QStringLiteral("Left"));
        QCOMPARE(restored.url, QUrl::fromLocalFile(m_hills));
        QCOMPARE(restored.options.value(QStringLiteral("scaling")), QVariant(qlonglong(2)));
        QCOMPARE(restored.options.value(QStringLiteral("mode")), QVariant(QStringLiteral("zoom")));
    }
};

LUMIVALE_TEST_MAIN(TestPreviousDesktopStore)
#include "tst_previousdesktopstore.moc"
