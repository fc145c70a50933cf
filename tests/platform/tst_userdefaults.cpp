// The user's defaults, and the configuration values a build carries.

#include "platform/appconfig.h"
#include "platform/error.h"
#include "platform/userdefaults.h"
#include "support/stdoutcapture.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

class TestUserDefaults : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(u"defaults.json"_s); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void valuesKeepTheirShapeAndRemovalsLastAcrossInstances()
    {
        {
            UserDefaults defaults(path());
            defaults.setString(u"s"_s, u"true"_s);
            defaults.setBool(u"b"_s, false);
            defaults.setStringArray(u"one"_s, {u"only"_s});
            defaults.setStringArray(u"none"_s, {});
            defaults.setData(u"d"_s, QByteArray("\x00\xff[1]", 5));
            defaults.setBool(u"gone"_s, true);
            defaults.remove(u"gone"_s);
            QVERIFY(!defaults.contains(u"gone"_s));
        }
        UserDefaults reread(path());
        QCOMPARE(reread.string(u"s"_s), u"true"_s);
        QCOMPARE(reread.boolean(u"b"_s), false);
        // A one-element list must not come back as a plain string.
        QCOMPARE(reread.stringArray(u"one"_s), QStringList{u"only"_s});
        QCOMPARE(reread.stringArray(u"none"_s), QStringList());
        QCOMPARE(reread.data(u"d"_s), QByteArray("\x00\xff[1]", 5));
        QVERIFY(!reread.contains(u"gone"_s));
    }

    void readingTheWrongShapeFindsNothing()
    {
        UserDefaults defaults(path());
        defaults.setString(u"key"_s, u"text"_s);
        QVERIFY(!defaults.data(u"key"_s));
        QVERIFY(!defaults.boolean(u"key"_s));
        QVERIFY(!defaults.stringArray(u"key"_s));
        QVERIFY(!defaults.string(u"missing"_s));
        QVERIFY(defaults.contains(u"key"_s));
    }

    void unparsableFileIsKeptAside()
    {
        {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{ not json");
        }
        UserDefaults defaults(path());
        QVERIFY(!defaults.contains(u"anything"_s));
        defaults.setString(u"fresh"_s, u"value"_s);
        defaults.sync();
        QFile aside(path() + u".bad"_s);
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("{ not json"));
        QCOMPARE(UserDefaults(path()).string(u"fresh"_s), u"value"_s);
    }

    void backgroundFailureIsOneLine()
    {
        const test::StdoutCapture capture;
        logFailure(u"restore failed:", Error(u"VideoCache"_s, 404, u"Not found"_s));
        QCOMPARE(capture.text(), QByteArray("restore failed: Not found\n"));
    }

    void theEnvironmentOverridesTheBuildsConfiguration()
    {
        qunsetenv("LUMIVALE_MANIFEST_URL");
        const QString built = infoDictionaryValue(InfoKey::ManifestURL);
        qputenv("LUMIVALE_MANIFEST_URL", "http://127.0.0.1:9/manifest.json");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL), u"http://127.0.0.1:9/manifest.json"_s);
        // Set but empty still wins: that is how a build's address is switched off.
        qputenv("LUMIVALE_MANIFEST_URL", "");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL), QString());
        qunsetenv("LUMIVALE_MANIFEST_URL");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL), built);
    }

    void configurationValuesAreNotTrimmedOrInterpreted()
    {
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", "  $(SU_KEY) ");
        QCOMPARE(infoDictionaryValue(InfoKey::SUPublicEDKey), u"  $(SU_KEY) "_s);
        qunsetenv("LUMIVALE_SU_PUBLIC_ED_KEY");
    }
};

LUMIVALE_TEST_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
