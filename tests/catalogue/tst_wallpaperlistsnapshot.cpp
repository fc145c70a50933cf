#include "catalogue/wallpaperlibrary.h"
#include "catalogue/wallpaperlistsnapshot.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

namespace {

Wallpaper record(QAnyStringView id, QAnyStringView name, QAnyStringView category)
{
    Wallpaper wallpaper;
    wallpaper.setId(id.toString());
    wallpaper.setName(name.toString());
    wallpaper.setCategory(category.toString());
    return wallpaper;
}

QStringList L(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

QSet<QString> setOf(std::initializer_list<const char *> texts)
{
    const QStringList list = L(texts);
    return QSet<QString>(list.begin(), list.end());
}

QStringList idsOf(const QList<Wallpaper> &wallpapers)
{
    QStringList ids;
    for (const Wallpaper &wallpaper : wallpapers)
        ids.append(wallpaper.id());
    return ids;
}

const QString kPrecomposedCafe = QString::fromUtf8("Caf\u00e9 Lights");
const QString kDecomposedCafe = QString::fromUtf8("Cafe\u0301 Lights");

} // namespace

class TestWallpaperListSnapshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // --- matching: case, blanks, accents, canonical equivalence ------------

    void queryMatching_data()
    {
        QTest::addColumn<QList<Wallpaper>>("records");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expectedIDs");

        const QList<Wallpaper> demo = WallpaperLibrary::sampleWallpapers();
        QTest::newRow("upper case with blanks") << demo << u" \n NEB\t"_s << L({"001"});
        QTest::newRow("category") << demo << u"space"_s << L({"001", "002", "003", "004"});
        QTest::newRow("blank query keeps all") << demo << u"  \n"_s << idsOf(demo);
        QTest::newRow("inner space stays") << demo << u"k hole"_s << L({"002"});
        QTest::newRow("inner blanks not collapsed") << demo << u"black  hole"_s << QStringList();

        const QList<Wallpaper> accents{record("p", kPrecomposedCafe, "City"),
                                       record("d", kDecomposedCafe, "City"),
                                       record("plain", "Cafe Lights", "City")};
        QTest::newRow("precomposed query")
            << accents << QString::fromUtf8("CAF\u00c9") << L({"p", "d"});
        QTest::newRow("decomposed query")
            << accents << QString::fromUtf8("cafe\u0301") << L({"p", "d"});
        QTest::newRow("plain e not inside é") << accents << u"cafe"_s << L({"plain"});
        QTest::newRow("lone accent matches nothing")
            << accents << QString::fromUtf8("\u0301") << QStringList();

        const QList<Wallpaper> unicode{
            record("sharp", QString::fromUtf8("Stra\u00dfe"), "Urban"),
            record("greek", QString::fromUtf8("\u039f\u0394\u039f\u03a3"), "Urban"),
            record("emoji", QString::fromUtf8("Family \U0001F468\u200D\U0001F469\u200D\U0001F467"),
                   "Urban")};
        // Full lower-case mapping, not the locale's and not upper-casing.
        QTest::newRow("sharp s") << unicode << QString::fromUtf8("STRA\u00dfE") << L({"sharp"});
        QTest::newRow("final sigma")
            << unicode << QString::fromUtf8("\u03bf\u03b4\u03bf\u03c3") << L({"greek"});
        QTest::newRow("part of an emoji sequence")
            << unicode << QString::fromUtf8("\U0001F468") << QStringList();
        QTest::newRow("whole emoji sequence")
            << unicode << QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467")
            << L({"emoji"});
    }

    void queryMatching()
    {
        QFETCH(QList<Wallpaper>, records);
        QFETCH(QString, query);
        QFETCH(QStringList, expectedIDs);
        const WallpaperListSnapshot snapshot(records, query);
        QCOMPARE(idsOf(snapshot.wallpapers), expectedIDs);
        QCOMPARE(snapshot.entries.size(), expectedIDs.size());
        for (qsizetype i = 0; i < snapshot.entries.size(); ++i)
            QCOMPARE(snapshot.entries[i].wallpaper, snapshot.wallpapers[i]);
    }

    void normalisationTrimsAndLowersOnly()
    {
        QCOMPARE(WallpaperListSnapshot::normalized(u"  Deep   Orbit!\n"), u"deep   orbit!"_s);
        // Canonically equivalent texts normalise to the same string.
        QCOMPARE(WallpaperListSnapshot::normalized(kDecomposedCafe),
                 WallpaperListSnapshot::normalized(kPrecomposedCafe));
    }

    // --- grouping -------------------------------------------------------------

    void groupsKeepInputOrderAndMergeSpellings()
    {
        const QList<Wallpaper> records{record("1", "One", "Space"), record("2", "Two", "Nature"),
                                       record("3", "Three", " SPACE "),
                                       record("4", "Four", QString::fromUtf8("Caf\u00e9")),
                                       record("5", "Five", QString::fromUtf8("Cafe\u0301"))};
        const WallpaperListSnapshot snapshot(records, QString());
        QCOMPARE(snapshot.normalizedCategories, setOf({"space", "nature", "caf\u00e9"}));
        QCOMPARE(idsOf(snapshot.wallpapersByNormalizedCategory.value(u"space"_s)), L({"1", "3"}));
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(u"Space")), L({"1", "3"}));
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(QString::fromUtf8("CAF\u00c9"))),
                 L({"4", "5"}));
        QCOMPARE(snapshot.entries[2].normalizedCategory, u"space"_s);
        QVERIFY(snapshot.wallpapersInCategory(u"Lofi").isEmpty());
    }

    void groupsHoldOnlyMatches()
    {
        const WallpaperListSnapshot snapshot(WallpaperLibrary::sampleWallpapers(), u"night");
        QCOMPARE(idsOf(snapshot.wallpapers), L({"010", "013"}));
        QCOMPARE(snapshot.normalizedCategories, setOf({"animals", "nature"}));
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(u"Nature")), L({"013"}));
    }

    // --- availableCategories ------------------------------------------------

    void availableCategoriesKeepsGivenOrderAndDropsEmpty()
    {
        const WallpaperListSnapshot snapshot(WallpaperLibrary::sampleWallpapers(), u"o");
        const QStringList rows = L({"Lofi", "Space", "Cities", " animals ", "Nature"});
        QCOMPARE(snapshot.availableCategories(rows), L({"Lofi", "Space", " animals ", "Nature"}));
        const WallpaperListSnapshot spaceOnly(WallpaperLibrary::sampleWallpapers(), u"orbit");
        QCOMPARE(spaceOnly.availableCategories(rows), L({"Space"}));
        QVERIFY(WallpaperListSnapshot({}, u"").availableCategories(rows).isEmpty());
    }

    // --- the Animals swap -----------------------------------------------------

    // The Animals row swaps two pairs of named wallpapers, only when both
    // names match exactly, and only in that row; the snapshot keeps its order.
    void animalsRowSwapsBothPairs_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expectedIDs"); // the records are "a", "b", ... in order
        QTest::newRow("both pairs")
            << u"Animals"_s
            << L({"Nyan Cat", "Fox", "MaxWell Spinning Cat", "Adorable Big Eyed Kitten",
                  "Halloween Black Cat", "Nyan Cat"})
            << L({"d", "b", "e", "a", "c", "f"});
        QTest::newRow("another spelling")
            << u"Animals"_s << L({"Nyan Cat", "adorable big eyed kitten", "Fox"})
            << L({"a", "b", "c"});
        QTest::newRow("another category")
            << u"Pets"_s << L({"Nyan Cat", "Adorable Big Eyed Kitten"}) << L({"a", "b"});
    }
    void animalsRowSwapsBothPairs()
    {
        QFETCH(QString, category);
        QFETCH(QStringList, names);
        QFETCH(QStringList, expectedIDs);
        QList<Wallpaper> records;
        for (const QString &name : names)
            records.append(record(QString(QChar(char16_t(u'a' + records.size()))), name, category));
        const WallpaperListSnapshot snapshot(records, QString());
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(u"  "_s + category + u"\n"_s)), expectedIDs);
        QCOMPARE(snapshot.wallpapers, records);
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperListSnapshot)
#include "tst_wallpaperlistsnapshot.moc"
