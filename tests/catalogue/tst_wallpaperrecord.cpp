#include "catalogue/wallpaper.h"
#include "catalogue/wallpapercardmodel.h"
#include "catalogue/wallpaperlibrary.h"
#include "catalogue/wallpaperlistsnapshot.h"
#include "catalogueshorthands.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;
using namespace Qt::StringLiterals;

namespace {

const QDateTime kNow = QDateTime(QDate(2024, 6, 15), QTime(12, 0, 0), Qt::UTC);

// Decodes one element given as JSON object members, on top of a valid one.
Result<Wallpaper> decodeWith(const QByteArray &members)
{
    QByteArray manifest = J("[{'id':'w1','name':'Nebula','video':'https://cdn.example/w1.mp4'}]");
    if (!members.isEmpty())
        manifest.replace("[{", "[{" + members + ",");
    return decodeManifest(manifest, kNow).transform([](const QList<Wallpaper> &wallpapers) {
        return wallpapers.first();
    });
}

// The decoded fields as text ("none": absent), by name.
QMap<QString, QString> fieldsOf(const Wallpaper &wallpaper)
{
    const auto text = [](const auto &value) {
        return value ? QVariant::fromValue(*value).toString() : u"none"_s;
    };
    const auto gradient = wallpaper.gradient();
    return {{u"id"_s, wallpaper.id()},
            {u"category"_s, wallpaper.category()},
            {u"resolution"_s, wallpaper.resolution()},
            {u"isNew"_s, QVariant(wallpaper.isNew()).toString()},
            {u"hasCreatedAt"_s, QVariant(wallpaper.createdAt().has_value()).toString()},
            {u"likeCount"_s, QString::number(wallpaper.likeCount())},
            {u"isLiked"_s, QVariant(wallpaper.isLiked()).toString()},
            {u"video"_s, wallpaper.video().value_or(QUrl()).toString()},
            {u"gradient"_s, gradient ? gradient->join(u',') : u"none"_s},
            {u"sizeBytes"_s, text(wallpaper.sizeBytes())},
            {u"durationSeconds"_s, text(wallpaper.durationSeconds())}};
}

Wallpaper record(QAnyStringView id, QAnyStringView name, QAnyStringView category)
{
    Wallpaper wallpaper;
    wallpaper.setId(id.toString());
    wallpaper.setName(name.toString());
    wallpaper.setCategory(category.toString());
    return wallpaper;
}

using L = QStringList;

} // namespace

class TestWallpaperRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One element's members, decoded on top of a valid element, and the
    // fields they must give as "name=value" ("none": absent); fields not
    // named are not checked.
    void decodesMembers_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QString>("expected");
        const auto at = [](qint64 secondsAgo, const char *flag) {
            return "\"createdAt\":\"" +
                   formatInternetDateTime(kNow.addSecs(-secondsAgo)).toLatin1() +
                   "\",\"isNew\":" + flag;
        };
        const auto newness = [](bool hasCreatedAt, bool isNew) {
            return u"hasCreatedAt=%1 isNew=%2"_s.arg(QVariant(hasCreatedAt).toString(),
                                                     QVariant(isNew).toString());
        };

        QTest::newRow("defaults")
            << QByteArray()
            << u"id=w1 category=Featured resolution=4K isNew=false hasCreatedAt=false likeCount=0 "
               u"isLiked=false video=https://cdn.example/w1.mp4 gradient=none sizeBytes=none "
               u"durationSeconds=none"_s;
        QTest::newRow("nulls are absent, unknown keys ignored")
            << J("'category':null,'gradient':null,'sizeBytes':null,'durationSeconds':null,"
                 "'isLiked':null,'Extra':[1]")
            << u"category=Featured gradient=none sizeBytes=none durationSeconds=none"_s;
        // Keys match by their text, not their escapes, and case-sensitively.
        QTest::newRow("escaped and upper-case keys")
            << QByteArray("\"\\u0063ategory\":\"Space\",\"Resolution\":\"8K\"")
            << u"category=Space resolution=4K"_s;
        // Above 2^53 a size must come through as an integer, not via a double.
        QTest::newRow("every value")
            << J("'category':'Space','resolution':'8K','likeCount':42,'isLiked':true,"
                 "'gradient':['#000000','#FFFFFF'],'sizeBytes':9007199254740993,"
                 "'durationSeconds':12")
            << u"category=Space resolution=8K likeCount=42 isLiked=true gradient=#000000,#FFFFFF "
               u"sizeBytes=9007199254740993 durationSeconds=12"_s;
        QTest::newRow("largest count")
            << J("'likeCount':9223372036854775807") << u"likeCount=9223372036854775807"_s;
        QTest::newRow("smallest count")
            << J("'likeCount':-9223372036854775808") << u"likeCount=-9223372036854775808"_s;
        QTest::newRow("likes alone") << J("'likes':9") << u"likeCount=9"_s;
        QTest::newRow("likeCount null") << J("'likeCount':null,'likes':9") << u"likeCount=9"_s;
        QTest::newRow("likeCount zero") << J("'likeCount':0,'likes':9") << u"likeCount=0"_s;
        // "likes" is read only when "likeCount" is missing.
        QTest::newRow("unused likes unchecked")
            << J("'likeCount':5,'likes':'many'") << u"likeCount=5"_s;

        // "createdAt", when it is a valid date, decides isNew over the flag.
        QTest::newRow("just under seven days") << at(7 * 86400 - 1, "false") << newness(true, true);
        QTest::newRow("exactly seven days") << at(7 * 86400, "true") << newness(true, false);
        QTest::newRow("in the future") << at(-86400, "false") << newness(true, true);
        QTest::newRow("not a date, flag true")
            << J("'createdAt':'yesterday','isNew':true") << newness(false, true);
        QTest::newRow("not a string, flag true")
            << J("'createdAt':1718445600,'isNew':true") << newness(false, true);
        QTest::newRow("object, no flag") << J("'createdAt':{}") << newness(false, false);
        QTest::newRow("null, flag true")
            << J("'createdAt':null,'isNew':true") << newness(false, true);
    }

    void decodesMembers()
    {
        QFETCH(QByteArray, members);
        QFETCH(QString, expected);
        const auto wallpaper = decodeWith(members);
        QVERIFY(wallpaper);
        const QMap<QString, QString> actual = fieldsOf(*wallpaper);
        for (const QString &field : expected.split(u' ')) {
            const QString name = field.section(u'=', 0, 0);
            QVERIFY2(actual.contains(name), qPrintable(name));
            QCOMPARE(name + u'=' + actual.value(name), field);
        }
    }

    void badElementFailsWithIndexAndKey_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key"); // quoted, in an element's fault
        // A manifest whose second element is `element`, or else a valid one
        // with `members` added.
        const auto second = [](const char *element) {
            return J("[{'id':'a','name':'A','video':'https://x/a.mp4'},") + J(element) + "]";
        };
        const auto with = [&second](const char *members) {
            return second(("{'id':'b','name':'B','video':'https://x'," + QByteArray(members) + "}")
                              .constData());
        };
        const int missing = ManifestError::MissingKey, wrongType = ManifestError::WrongType;
        const int badURL = ManifestError::InvalidURL, notJSON = ManifestError::NotJson;
        QTest::newRow("no video") << second("{'id':'b','name':'B'}") << missing << "video";
        QTest::newRow("null id") << second("{'id':null,'name':'B','video':'https://x'}") << missing
                                 << "id";
        QTest::newRow("no name") << second("{'id':'b','video':'https://x'}") << missing << "name";
        QTest::newRow("numeric id")
            << second("{'id':7,'name':'B','video':'https://x'}") << wrongType << "id";
        QTest::newRow("video not a URL")
            << second("{'id':'b','name':'B','video':'http://a b/c'}") << badURL << "video";
        QTest::newRow("empty video")
            << second("{'id':'b','name':'B','video':''}") << badURL << "video";
        QTest::newRow("fractional likes") << with("'likes':5.5") << wrongType << "likes";
        QTest::newRow("likeCount as text") << with("'likeCount':'5'") << wrongType << "likeCount";
        QTest::newRow("size beyond 64 bits")
            << with("'sizeBytes':9223372036854775808") << wrongType << "sizeBytes";
        QTest::newRow("isNew as number") << with("'isNew':1") << wrongType << "isNew";
        QTest::newRow("gradient with a number")
            << with("'gradient':['#000000',3]") << wrongType << "gradient";
        QTest::newRow("gradient as text")
            << with("'gradient':'#000000'") << wrongType << "gradient";
        // Several faults: the one reported is the first in decoding order,
        // which is not the order of the keys in the object.
        QTest::newRow("missing name before bad category")
            << second("{'id':'b','category':7,'video':'https://x'}") << missing << "name";
        QTest::newRow("bad gradient before bad duration")
            << with("'durationSeconds':'3','gradient':[1]") << wrongType << "gradient";
        QTest::newRow("likes as text, likeCount missing")
            << with("'likes':'many'") << wrongType << "likes";
        QTest::newRow("duration as text")
            << with("'durationSeconds':'3'") << wrongType << "durationSeconds";
        QTest::newRow("element not an object") << second("[]") << wrongType << "";
        QTest::newRow("top level object")
            << J("{'id':'a'}") << int(ManifestError::NotArray) << "array";
        QTest::newRow("not JSON") << QByteArray("[{\"id\":") << notJSON << "JSON";
        QTest::newRow("invalid UTF-8") << QByteArray("[\"\xff\"]") << notJSON << "JSON";
        QTest::newRow("empty body") << QByteArray() << notJSON << "JSON";
        // Refused before it is read.
        QTest::newRow("over 64 MiB") << QByteArray(kMaxManifestBytes + 1, ' ')
                                     << int(ManifestError::TooLarge) << "larger than 64 MiB";
    }

    void badElementFailsWithIndexAndKey()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, code);
        QFETCH(QString, key);
        const auto decoded = decodeManifest(json, kNow);
        QVERIFY(!decoded);
        const Error &error = decoded.error();
        QCOMPARE(error.domain(), ManifestError::kDomain);
        QCOMPARE(error.code(), code);
        const bool inElement = code >= ManifestError::MissingKey && code != ManifestError::TooLarge;
        const QString quoted = inElement && !key.isEmpty() ? u'"' + key + u'"' : key;
        QVERIFY2(error.description().contains(quoted), qPrintable(error.description()));
        if (inElement)
            QVERIFY2(error.description().contains(u"element 1"), qPrintable(error.description()));
    }

    void internetDateTimeIsStrict_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime noon(QDate(2024, 5, 1), QTime(12, 30, 15), Qt::UTC);
        QTest::newRow("Z") << "2024-05-01T12:30:15Z" << noon;
        QTest::newRow("plus offset") << "2024-05-01T14:30:15+02:00" << noon;
        QTest::newRow("minus offset") << "2024-05-01T07:00:15-05:30" << noon;
        QTest::newRow("zero offset") << "2024-05-01T12:30:15+00:00" << noon;
        QTest::newRow("leap day") << "2024-02-29T00:00:00Z"
                                  << QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC);
        const QDateTime none;
        QTest::newRow("fractional seconds") << "2024-05-01T12:30:15.250Z" << none;
        QTest::newRow("no seconds") << "2024-05-01T12:30Z" << none;
        QTest::newRow("no zone") << "2024-05-01T12:30:15" << none;
        QTest::newRow("space for T") << "2024-05-01 12:30:15Z" << none;
        QTest::newRow("lower-case z") << "2024-05-01T12:30:15z" << none;
        QTest::newRow("compact offset") << "2024-05-01T12:30:15+0200" << none;
        QTest::newRow("date only") << "2024-05-01" << none;
        QTest::newRow("no such day") << "2023-02-29T00:00:00Z" << none;
        QTest::newRow("hour 24") << "2024-05-01T24:00:00Z" << none;
        QTest::newRow("offset minutes 60") << "2024-05-01T12:30:15+01:60" << none;
        QTest::newRow("trailing newline") << "2024-05-01T12:30:15Z\n" << none;
        QTest::newRow("leading blank") << " 2024-05-01T12:30:15Z" << none;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("٢٠٢٤-05-01T12:30:15Z") << none;
    }

    void internetDateTimeIsStrict()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const std::optional<QDateTime> parsed = parseInternetDateTime(text);
        QCOMPARE(parsed.has_value(), expected.isValid());
        if (parsed)
            QCOMPARE(*parsed, expected);
    }

    void colorFromHexRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("with hash") << "#1B1450" << QColor(0x1B, 0x14, 0x50);
        QTest::newRow("without hash") << "ffb37a" << QColor(0xFF, 0xB3, 0x7A);
        QTest::newRow("mixed case") << "#fFb37A" << QColor(0xFF, 0xB3, 0x7A);
        QTest::newRow("blanks and newline") << " \n#0A0420\t " << QColor(0x0A, 0x04, 0x20);
        QTest::newRow("plus sign") << "+12345" << QColor(0x01, 0x23, 0x45);
        QTest::newRow("four digits") << "#1234" << QColor();
        QTest::newRow("eight digits") << "#11223344" << QColor();
        QTest::newRow("non-hex") << "#12345G" << QColor();
        QTest::newRow("0x prefix") << "0x1234" << QColor();
        QTest::newRow("minus sign") << "-12345" << QColor();
        QTest::newRow("inner blank") << "#12 345" << QColor();
        QTest::newRow("two hashes") << "##123456" << QColor();
        QTest::newRow("fullwidth digits") << QString::fromUtf8("１２３４５６") << QColor();
        QTest::newRow("empty") << "" << QColor();
    }

    void colorFromHexRule()
    {
        QFETCH(QString, text);
        QFETCH(QColor, expected);
        const std::optional<QColor> color = colorFromHex(text);
        QCOMPARE(color.has_value(), expected.isValid());
        if (color) {
            QCOMPARE(color->rgba(), expected.rgba());
            QCOMPARE(color->alphaF(), 1.0);
            QVERIFY(color->toRgb() == *color); // plain sRGB, no other colour model
        }
    }

    void gradientColorsAreTheRecordsOwnElseAPaletteByTheID()
    {
        Wallpaper wallpaper;
        wallpaper.setId(u"x"_s);
        wallpaper.setGradient(QStringList{u"#FF0000"_s, u"nope"_s, u"0000ff"_s});
        QCOMPARE(wallpaper.gradientColors(), QList<QColor>({QColor(255, 0, 0), QColor(0, 0, 255)}));

        // Every string malformed: an empty list, not a fallback.
        wallpaper.setGradient(QStringList{u"#12"_s});
        QVERIFY(wallpaper.gradientColors().isEmpty());

        QSet<QString> palettesSeen;
        for (int i = 0; i < 60; ++i) {
            wallpaper.setId(u"wallpaper-%1"_s.arg(i));
            wallpaper.setGradient((i % 2) ? std::optional<QStringList>(QStringList())
                                          : std::optional<QStringList>());
            const QList<QColor> colors = wallpaper.gradientColors();
            QStringList names;
            for (const QColor &color : colors)
                names.append(color.name(QColor::HexRgb).toUpper());
            QVERIFY(fallbackPalettes().contains(names));
            palettesSeen.insert(names.join(u','));
            Wallpaper other;
            other.setId(wallpaper.id());
            other.setName(u"different"_s);
            QCOMPARE(other.gradientColors(), colors);
        }
        QCOMPARE(palettesSeen.size(), 6);
        // The same in every run, not just within this process.
        wallpaper.setId(u"001"_s);
        wallpaper.setGradient(std::nullopt);
        QCOMPARE(wallpaper.gradientColors().first(), *colorFromHex(u"#0B2A4A"));
    }

    void likeCountTextBoundaries_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << qint64(-5) << QString();
        QTest::newRow("0") << qint64(0) << QString();
        QTest::newRow("1") << qint64(1) << "1";
        QTest::newRow("999") << qint64(999) << "999";
        QTest::newRow("1000") << qint64(1000) << "1.0K";
        QTest::newRow("1050") << qint64(1050) << "1.1K";
        QTest::newRow("999999") << qint64(999999) << "1000.0K";
        QTest::newRow("1000000") << qint64(1000000) << "1.0M";
        QTest::newRow("2500000") << qint64(2500000) << "2.5M";
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << "9223372036854.8M";
    }

    void likeCountTextBoundaries()
    {
        QFETCH(qint64, count);
        QFETCH(QString, text);
        QCOMPARE(likeCountText(count).value_or(QString()), text);
        QCOMPARE(likeCountText(count).has_value(), !text.isNull());
    }

    void cardModelFollowsRecordAndState()
    {
        const auto wallpaper = decodeWith(J("'likeCount':1500,'isNew':true"));
        QVERIFY(wallpaper);
        const QSet<QString> cached{u"w1"_s, u"w9"_s};
        const auto card = WallpaperCardModel::make(*wallpaper, u"w1"_s, cached);
        QCOMPARE(card.likeCountText, u"1.5K"_s);
        QVERIFY(card.isNew && card.isActive && card.isDownloaded && !card.isDownloading);
        const auto idle = WallpaperCardModel::make(*wallpaper, std::nullopt, {});
        QVERIFY(!idle.isActive && !idle.isDownloaded);
        QVERIFY(!WallpaperCardModel::make(*wallpaper, u"w2"_s, {}).isActive);
    }

    // Matching ignores case and outer blanks, and canonically equivalent texts match.

    void queryMatching_data()
    {
        QTest::addColumn<QList<Wallpaper>>("records");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expectedIDs");

        const QList<Wallpaper> demo = WallpaperLibrary::sampleWallpapers();
        QTest::newRow("upper case with blanks") << demo << u" \n NEB\t"_s << L{"001"};
        QTest::newRow("category") << demo << u"space"_s << L{"001", "002", "003", "004"};
        QTest::newRow("blank query keeps all") << demo << u"  \n"_s << idsOf(demo);
        QTest::newRow("inner space stays") << demo << u"k hole"_s << L{"002"};
        QTest::newRow("inner blanks not collapsed") << demo << u"black  hole"_s << QStringList();

        const QList<Wallpaper> accents{record("p", "Caf\u00e9 Lights", "City"),
                                       record("d", "Cafe\u0301 Lights", "City"),
                                       record("plain", "Cafe Lights", "City")};
        QTest::newRow("precomposed query") << accents << u"CAF\u00c9"_s << L{"p", "d"};
        QTest::newRow("decomposed query") << accents << u"cafe\u0301"_s << L{"p", "d"};
        QTest::newRow("plain e not inside é") << accents << u"cafe"_s << L{"plain"};
        QTest::newRow("lone accent matches nothing") << accents << u"\u0301"_s << QStringList();

        const QList<Wallpaper> unicode{
            record("sharp", u"Stra\u00dfe"_s, "Urban"),
            record("greek", u"\u039f\u0394\u039f\u03a3"_s, "Urban"),
            record("emoji", u"Family \U0001F468\u200D\U0001F469\u200D\U0001F467"_s, "Urban")};
        // Full lower-case mapping, not the locale's and not upper-casing.
        QTest::newRow("sharp s") << unicode << u"STRA\u00dfE"_s << L{"sharp"};
        QTest::newRow("final sigma") << unicode << u"\u03bf\u03b4\u03bf\u03c3"_s << L{"greek"};
        QTest::newRow("part of an emoji sequence") << unicode << u"\U0001F468"_s << QStringList();
        QTest::newRow("whole emoji sequence")
            << unicode << u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s << L{"emoji"};
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

    void groupsKeepInputOrderAndMergeSpellings()
    {
        const QList<Wallpaper> records{record("1", "One", "Space"), record("2", "Two", "Nature"),
                                       record("3", "Three", " SPACE "),
                                       record("4", "Four", u"Caf\u00e9"_s),
                                       record("5", "Five", u"Cafe\u0301"_s)};
        const WallpaperListSnapshot snapshot(records, QString());
        QCOMPARE(snapshot.normalizedCategories, (QSet<QString>{"space", "nature", "caf\u00e9"}));
        QCOMPARE(idsOf(snapshot.wallpapersByNormalizedCategory.value(u"space"_s)), (L{"1", "3"}));
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(u"Space")), (L{"1", "3"}));
        QCOMPARE(idsOf(snapshot.wallpapersInCategory(u"CAF\u00c9"_s)), (L{"4", "5"}));
        QCOMPARE(snapshot.entries[2].normalizedCategory, u"space"_s);
        QVERIFY(snapshot.wallpapersInCategory(u"Lofi").isEmpty());
    }

    // Groups hold only matches; the available categories keep the order
    // given and drop those without one.
    void groupsAndCategoriesHoldOnlyMatches()
    {
        const WallpaperListSnapshot night(WallpaperLibrary::sampleWallpapers(), u"night");
        QCOMPARE(idsOf(night.wallpapers), (L{"010", "013"}));
        QCOMPARE(night.normalizedCategories, (QSet<QString>{"animals", "nature"}));
        QCOMPARE(idsOf(night.wallpapersInCategory(u"Nature")), (L{"013"}));
        const WallpaperListSnapshot snapshot(WallpaperLibrary::sampleWallpapers(), u"o");
        const L rows{"Lofi", "Space", "Cities", " animals ", "Nature"};
        QCOMPARE(snapshot.availableCategories(rows), (L{"Lofi", "Space", " animals ", "Nature"}));
        const WallpaperListSnapshot spaceOnly(WallpaperLibrary::sampleWallpapers(), u"orbit");
        QCOMPARE(spaceOnly.availableCategories(rows), (L{"Space"}));
        QVERIFY(WallpaperListSnapshot({}, u"").availableCategories(rows).isEmpty());
    }

    // The Animals row swaps two pairs of named wallpapers, only when both
    // names match exactly, and only in that row; the snapshot keeps its order.
    void animalsRowSwapsBothPairs_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QStringList>("expectedIDs"); // the records are "a", "b", ... in order
        QTest::newRow("both pairs")
            << u"Animals"_s
            << u"Nyan Cat,Fox,MaxWell Spinning Cat,Adorable Big Eyed Kitten,"
               u"Halloween Black Cat,Nyan Cat"_s
            << L{"d", "b", "e", "a", "c", "f"};
        QTest::newRow("another spelling")
            << u"Animals"_s << u"Nyan Cat,adorable big eyed kitten,Fox"_s << L{"a", "b", "c"};
        QTest::newRow("another category")
            << u"Pets"_s << u"Nyan Cat,Adorable Big Eyed Kitten"_s << L{"a", "b"};
    }
    void animalsRowSwapsBothPairs()
    {
        QFETCH(QString, category);
        QFETCH(QString, names);
        QList<Wallpaper> records;
        for (const QString &name : names.split(u','))
            records.append(record(QString(QChar(char16_t(u'a' + records.size()))), name, category));
        const WallpaperListSnapshot snapshot(records, QString());
        QTEST(idsOf(snapshot.wallpapersInCategory(u"  "_s + category + u"\n"_s)), "expectedIDs");
        QCOMPARE(snapshot.wallpapers, records);
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperRecord)
#include "tst_wallpaperrecord.moc"
