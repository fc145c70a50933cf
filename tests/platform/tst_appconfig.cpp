#include "platform/appconfig.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

class TestAppConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void environmentOverridesTheBuildValue()
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

    void valuesAreNotTrimmedOrInterpreted()
    {
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", "  $(SU_KEY) ");
        QCOMPARE(infoDictionaryValue(InfoKey::SUPublicEDKey), u"  $(SU_KEY) "_s);
        qunsetenv("LUMIVALE_SU_PUBLIC_ED_KEY");
        QCOMPARE(infoKeyName(InfoKey::SUPublicEDKey), u"SUPublicEDKey"_s);
    }
};

LUMIVALE_TEST_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
