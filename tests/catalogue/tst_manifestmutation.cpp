#include "catalogue/wallpaper.h"
#include "manifestmutations.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;

// The decoder against random edits of good manifests, with a fixed seed so a
// failure repeats. It must never crash, leak or hang (run it under the
// sanitizers); every input either decodes or yields a described error.
class TestManifestMutation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomEditsNeverCrash()
    {
        QRandomGenerator random(20240615);
        const QList<QByteArray> seeds = test::manifestSeeds();
        int decoded = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray input = seeds.at(round % seeds.size());
            const int edits = 1 + random.bounded(4);
            for (int edit = 0; edit < edits; ++edit)
                input = test::mutateManifest(input, random);
            test::exerciseManifest(input);
            decoded += decodeManifest(input).has_value();
        }
        // Some edits keep the manifest valid; all of them failing would mean
        // the decoder rejects too much.
        QVERIFY(decoded > 0);
    }

    void seedsDecode()
    {
        for (const QByteArray &seed : test::manifestSeeds())
            QVERIFY2(decodeManifest(seed), seed.constData());
    }
};

LUMIVALE_TEST_MAIN(TestManifestMutation)
#include "tst_manifestmutation.moc"
