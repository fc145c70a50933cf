#include "platform/appconfig.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;

class TestAppConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void environmentOverridesTheBuildValue()
    {
        qunsetenv("LUMIVALE_MANIFEST_URL");
        const QString built = infoDictionaryValue(InfoKey::ManifestURL);
        qputenv("LUMIVALE_MANIFEST_URL", "http://127.0.0.1:9/manifest.json");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL),
                 QStringLiteral("http://127.0.0.1:9/manifest.json"));
        // Set but empty still wins: that is how a build's address is switched off.
        qputenv("LUMIVALE_MANIFEST_URL", "");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL), QString());
        qunsetenv("LUMIVALE_MANIFEST_URL");
        QCOMPARE(infoDictionaryValue(InfoKey::ManifestURL), built);
    }

    void valuesAreNotTrimmedOrInterpreted()
    {
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", "  $(SU_KEY) ");
        QCOMPARE(infoDictionaryValue(InfoKey::SUPublicEDKey), QStringLiteral("  $(SU_KEY) "));
        qunsetenv("LUMIVALE_SU_PUBLIC_ED_KEY");
        QCOMPARE(infoKeyName(InfoKey::SUPublicEDKey), QStringLiteral("SUPublicEDKey"));
    }
};

LUMIVALE_TEST_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
