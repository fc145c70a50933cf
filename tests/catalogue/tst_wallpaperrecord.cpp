#include "catalogue/wallpaper.h"
#include "catalogue/wallpapercardmodel.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

namespace {

// JSON written with single quotes, to keep the fixtures readable.
QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

const QDateTime kNow = QDateTime(QDate(2024, 6, 15), QTime(12, 0, 0), Qt::UTC);

QJsonObject validElement()
{
    return QJsonObject{
        {QStringLiteral("id"), QStringLiteral("w1")},
        {QStringLiteral("name"), QStringLiteral("Nebula")},
        {QStringLiteral("video"), QStringLiteral("https://cdn.example/w1.mp4")},
    };
}

QByteArray manifestOf(const QJsonObject &element)
{
    return QJsonDocument(QJsonArray{element}).toJson(QJsonDocument::Compact);
}

// Decodes one element given as JSON object members, on top of validElement().
Result<Wallpaper> decodeWith(const QByteArray &members)
{
    QByteArray base = manifestOf(validElement());
    if (!members.isEmpty())
        base.replace("{", "{" + members + ",");
    return decodeManifest(base, kNow).transform([](const QList<Wallpaper> &wallpapers) {
        return wallpapers.first();
    });
}

QVariant optional(const auto &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariantMap fieldsOf(const Wallpaper &wallpaper)
{
    return {{u"id"_s, wallpaper.id()},
            {u"category"_s, wallpaper.category()},
            {u"resolution"_s, wallpaper.resolution()},
            {u"isNew"_s, wallpaper.isNew()},
            {u"hasCreatedAt"_s, wallpaper.createdAt().has_value()},
            {u"likeCount"_s, wallpaper.likeCount()},
            {u"isLiked"_s, wallpaper.isLiked()},
            {u"video"_s, wallpaper.video().value_or(QUrl()).toString()},
            {u"gradient"_s, optional(wallpaper.gradient())},
            {u"sizeBytes"_s, optional(wallpaper.sizeBytes())},
            {u"durationSeconds"_s, optional(wallpaper.durationSeconds())}};
}

QString iso(const QDateTime &dateTime)
{
    return formatInternetDateTime(dateTime);
}

} // namespace

class TestWallpaperRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // --- decoding defaults and failures ---------------------------------

    // One element's members, decoded on top of a valid element, and the
    // fields they must give; fields not named are not checked.
    void decodesMembers_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QVariantMap>("expected");
        const QVariant absent;
        const auto at = [](qint64 secondsAgo, const char *flag) {
            return "\"createdAt\":\"" + iso(kNow.addSecs(-secondsAgo)).toLatin1() +
                   "\",\"isNew\":" + flag;
        };
        const auto newness = [](bool hasCreatedAt, bool isNew) {
            return QVariantMap{{u"hasCreatedAt"_s, hasCreatedAt}, {u"isNew"_s, isNew}};
        };

        QTest::newRow("defaults") << QByteArray()
                                  << QVariantMap{{u"id"_s, u"w1"_s},
                                                 {u"category"_s, u"Featured"_s},
                                                 {u"resolution"_s, u"4K"_s},
                                                 {u"isNew"_s, false},
                                                 {u"hasCreatedAt"_s, false},
                                                 {u"likeCount"_s, 0},
                                                 {u"isLiked"_s, false},
                                                 {u"video"_s, u"https://cdn.example/w1.mp4"_s},
                                                 {u"gradient"_s, absent},
                                                 {u"sizeBytes"_s, absent},
                                                 {u"durationSeconds"_s, absent}};
        QTest::newRow("nulls are absent, unknown keys ignored")
            << J("'category':null,'gradient':null,'sizeBytes':null,'durationSeconds':null,"
                 "'isLiked':null,'Extra':[1]")
            << QVariantMap{{u"category"_s, u"Featured"_s},
                           {u"gradient"_s, absent},
                           {u"sizeBytes"_s, absent},
                           {u"durationSeconds"_s, absent}};
        // Keys match by their text, not their escapes, and case-sensitively.
        QTest::newRow("escaped and upper-case keys")
            << QByteArray("\"\\u0063ategory\":\"Space\",\"Resolution\":\"8K\"")
            << QVariantMap{{u"category"_s, u"Space"_s}, {u"resolution"_s, u"4K"_s}};
        // Above 2^53 a size must come through as an integer, not via a double.
        QTest::newRow("every value")
            << J("'category':'Space','resolution':'8K','likeCount':42,'isLiked':true,"
                 "'gradient':['#000000','#FFFFFF'],'sizeBytes':9007199254740993,"
                 "'durationSeconds':12")
            << QVariantMap{{u"category"_s, u"Space"_s},
                           {u"resolution"_s, u"8K"_s},
                           {u"likeCount"_s, 42},
                           {u"isLiked"_s, true},
                           {u"gradient"_s, QStringList{u"#000000"_s, u"#FFFFFF"_s}},
                           {u"sizeBytes"_s, Q_INT64_C(9007199254740993)},
                           {u"durationSeconds"_s, 12.0}};
        QTest::newRow("largest count")
            << J("'likeCount':9223372036854775807")
            << QVariantMap{{u"likeCount"_s, std::numeric_limits<qint64>::max()}};
        QTest::newRow("smallest count")
            << J("'likeCount':-9223372036854775808")
            << QVariantMap{{u"likeCount"_s, std::numeric_limits<qint64>::min()}};
        QTest::newRow("likeCount over likes")
            << J("'likeCount':5,'likes':9") << QVariantMap{{u"likeCount"_s, 5}};
        QTest::newRow("likes alone") << J("'likes':9") << QVariantMap{{u"likeCount"_s, 9}};
        QTest::newRow("likeCount null")
            << J("'likeCount':null,'likes':9") << QVariantMap{{u"likeCount"_s, 9}};
        QTest::newRow("likeCount zero")
            << J("'likeCount':0,'likes':9") << QVariantMap{{u"likeCount"_s, 0}};
        // "likes" is read only when "likeCount" is missing.
        QTest::newRow("unused likes unchecked")
            << J("'likeCount':5,'likes':'many'") << QVariantMap{{u"likeCount"_s, 5}};

        // "createdAt", when it is a valid date, decides isNew over the flag.
        QTest::newRow("three days old, flag false")
            << at(3 * 86400, "false") << newness(true, true);
        QTest::newRow("eight days old, flag true") << at(8 * 86400, "true") << newness(true, false);
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
        QFETCH(QVariantMap, expected);
        const auto wallpaper = decodeWith(members);
        QVERIFY(wallpaper);
        const QVariantMap actual = fieldsOf(*wallpaper);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(actual.value(it.key()), it.value());
    }

    void elementsKeepManifestOrder()
    {
        const QByteArray json = J("[{'id':'b','name':'B','video':'https://x/b.mp4'},"
                                  "{'id':'a','name':'A','video':'https://x/a.mp4'},"
                                  "{'id':'b','name':'B','video':'https://x/b.mp4'}]");
        const auto wallpapers = decodeManifest(json);
        QVERIFY(wallpapers);
        QCOMPARE(wallpapers->size(), 3);
        QCOMPARE(wallpapers->at(0).id(), QStringLiteral("b"));
        QCOMPARE(wallpapers->at(1).id(), QStringLiteral("a"));
        QCOMPARE(wallpapers->at(0), wallpapers->at(2));
    }

    void badElementFailsWithIndexAndKey_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key");

        const QByteArray good = J("{'id':'a','name':'A','video':'https://x/a.mp4'}");
        const auto second = [&good](const char *element) {
            return "[" + good + "," + QByteArray(element) + "]";
        };
        QTest::newRow("no video") << second(J("{'id':'b','name':'B'}"))
                                  << int(ManifestError::MissingKey) << "\"video\"";
        QTest::newRow("null id") << second(J("{'id':null,'name':'B','video':'https://x'}"))
                                 << int(ManifestError::MissingKey) << "\"id\"";
        QTest::newRow("no name") << second(J("{'id':'b','video':'https://x'}"))
                                 << int(ManifestError::MissingKey) << "\"name\"";
        QTest::newRow("numeric id") << second(J("{'id':7,'name':'B','video':'https://x'}"))
                                    << int(ManifestError::WrongType) << "\"id\"";
        QTest::newRow("video not a URL")
            << second(J("{'id':'b','name':'B','video':'http://a b/c.mp4'}"))
            << int(ManifestError::InvalidURL) << "\"video\"";
        QTest::newRow("empty video") << second(J("{'id':'b','name':'B','video':''}"))
                                     << int(ManifestError::InvalidURL) << "\"video\"";
        QTest::newRow("fractional likes")
            << second(J("{'id':'b','name':'B','video':'https://x','likes':5.5}"))
            << int(ManifestError::WrongType) << "\"likes\"";
        QTest::newRow("likeCount as text")
            << second(J("{'id':'b','name':'B','video':'https://x','likeCount':'5'}"))
            << int(ManifestError::WrongType) << "\"likeCount\"";
        QTest::newRow("size beyond 64 bits")
            << second(
                   J("{'id':'b','name':'B','video':'https://x','sizeBytes':9223372036854775808}"))
            << int(ManifestError::WrongType) << "\"sizeBytes\"";
        QTest::newRow("isNew as number")
            << second(J("{'id':'b','name':'B','video':'https://x','isNew':1}"))
            << int(ManifestError::WrongType) << "\"isNew\"";
        QTest::newRow("gradient with a number")
            << second(J("{'id':'b','name':'B','video':'https://x','gradient':['#000000',3]}"))
            << int(ManifestError::WrongType) << "\"gradient\"";
        QTest::newRow("gradient as text")
            << second(J("{'id':'b','name':'B','video':'https://x','gradient':'#000000'}"))
            << int(ManifestError::WrongType) << "\"gradient\"";
        // Several faults: the one reported is the first in decoding order,
        // which is not the order of the keys in the object.
        QTest::newRow("missing name before bad category")
            << second(J("{'id':'b','category':7,'video':'https://x'}"))
            << int(ManifestError::MissingKey) << "\"name\"";
        QTest::newRow("bad gradient before bad duration")
            << second(J("{'id':'b','name':'B','video':'https://x','durationSeconds':'3',"
                        "'gradient':[1]}"))
            << int(ManifestError::WrongType) << "\"gradient\"";
        QTest::newRow("likes as text, likeCount missing")
            << second(J("{'id':'b','name':'B','video':'https://x','likes':'many'}"))
            << int(ManifestError::WrongType) << "\"likes\"";
        QTest::newRow("duration as text")
            << second(J("{'id':'b','name':'B','video':'https://x','durationSeconds':'3'}"))
            << int(ManifestError::WrongType) << "\"durationSeconds\"";
        QTest::newRow("element not an object")
            << second("[]") << int(ManifestError::WrongType) << "element 1";
        QTest::newRow("top level object")
            << QByteArray(J("{'id':'a'}")) << int(ManifestError::NotArray) << "array";
        QTest::newRow("not JSON") << QByteArray("[{\"id\":") << int(ManifestError::NotJson)
                                  << "JSON";
        QTest::newRow("invalid UTF-8")
            << QByteArray("[\"\xff\"]") << int(ManifestError::NotJson) << "JSON";
        QTest::newRow("empty body") << QByteArray() << int(ManifestError::NotJson) << "JSON";
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
        QVERIFY2(error.description().contains(key), qPrintable(error.description()));
        if (code >= ManifestError::MissingKey)
            QVERIFY2(error.description().contains(u"element 1"), qPrintable(error.description()));
    }

    void oversizedManifestIsRefusedUnread()
    {
        const QByteArray huge(kMaxManifestBytes + 1, ' ');
        const auto decoded = decodeManifest(huge);
        QVERIFY(!decoded);
        QCOMPARE(decoded.error().code(), int(ManifestError::TooLarge));
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

    // --- gradients and hex colours ----------------------------------------

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

    void gradientColorsPreferTheRecordsOwn()
    {
        Wallpaper wallpaper;
        wallpaper.setId(QStringLiteral("x"));
        wallpaper.setGradient(QStringList{QStringLiteral("#FF0000"), QStringLiteral("nope"),
                                          QStringLiteral("0000ff")});
        QCOMPARE(wallpaper.gradientColors(), QList<QColor>({QColor(255, 0, 0), QColor(0, 0, 255)}));

        // Every string malformed: an empty list, not a fallback.
        wallpaper.setGradient(QStringList{QStringLiteral("#12")});
        QVERIFY(wallpaper.gradientColors().isEmpty());
    }

    void fallbackPaletteDependsOnlyOnTheID()
    {
        Wallpaper wallpaper;
        QSet<QString> palettesSeen;
        for (int i = 0; i < 60; ++i) {
            wallpaper.setId(QStringLiteral("wallpaper-%1").arg(i));
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
            other.setName(QStringLiteral("different"));
            QCOMPARE(other.gradientColors(), colors);
        }
        QCOMPARE(palettesSeen.size(), 6);
        // The same in every run, not just within this process.
        wallpaper.setId(QStringLiteral("001"));
        wallpaper.setGradient(std::nullopt);
        QCOMPARE(wallpaper.gradientColors().first(), *colorFromHex(u"#0B2A4A"));
    }

    // --- the like-count text ----------------------------------------------

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

    // --- the card model -----------------------------------------------------

    void cardModelFollowsRecordAndState()
    {
        const auto wallpaper = decodeWith(J("'likeCount':1500,'isNew':true"));
        QVERIFY(wallpaper);
        const QSet<QString> cached{QStringLiteral("w1"), QStringLiteral("w9")};
        const auto card = WallpaperCardModel::make(*wallpaper, QStringLiteral("w1"), cached);
        QCOMPARE(card.likeCountText, QStringLiteral("1.5K"));
        QVERIFY(card.isNew && card.isActive && card.isDownloaded && !card.isDownloading);
        const auto idle = WallpaperCardModel::make(*wallpaper, std::nullopt, {});
        QVERIFY(!idle.isActive && !idle.isDownloaded);
        QVERIFY(!WallpaperCardModel::make(*wallpaper, QStringLiteral("w2"), {}).isActive);
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperRecord)
#include "tst_wallpaperrecord.moc"
