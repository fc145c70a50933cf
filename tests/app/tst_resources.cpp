#include "app/menuicons.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;

namespace {

const QStringList menuSymbols{
    QStringLiteral("cpu"),
    QStringLiteral("memorychip"),
    QStringLiteral("externaldrive"),
    QStringLiteral("rectangle.grid.2x2"),
    QStringLiteral("arrow.clockwise"),
    QStringLiteral("trash"),
    QStringLiteral("power"),
    QStringLiteral("arrow.down.circle"),
    QStringLiteral("pause.circle"),
    QStringLiteral("xmark.circle"),
    QStringLiteral("play.rectangle.fill"),
};

QString builtIn(const QString &name)
{
    return QStringLiteral(":/lumivale/icons/") + name + QStringLiteral(".svg");
}

QImage render16(const QIcon &icon)
{
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0x80 ? 1 : 0;
    return count;
}

bool drawsOnlyInBlack(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) > 0 && (qRed(pixel) | qGreen(pixel) | qBlue(pixel)) != 0)
                return false;
        }
    return true;
}

// A one-icon-per-file theme under `root`: each named icon is a fully opaque
// black square, unlike any built-in artwork.
void writeTheme(const QString &root, const QString &theme, const QStringList &iconNames)
{
    const QString dir = root + u'/' + theme + QStringLiteral("/scalable/actions");
    QVERIFY(QDir().mkpath(dir));
    QFile index(root + u'/' + theme + QStringLiteral("/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Test\nDirectories=scalable/actions\n\n"
                "[scalable/actions]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    for (const QString &name : iconNames) {
        QFile icon(dir + u'/' + name + QStringLiteral(".svg"));
        QVERIFY(icon.open(QIODevice::WriteOnly));
        icon.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" )"
                   R"(viewBox="0 0 16 16"><rect width="16" height="16" fill="#000"/></svg>)");
    }
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

    QTemporaryDir m_themes;

    // Only the given theme, with no system themes behind it.
    void useOnlyTheme(const QString &theme)
    {
        QIcon::setThemeSearchPaths({m_themes.path()});
        QIcon::setFallbackSearchPaths({});
        QIcon::setFallbackThemeName(theme);
        QIcon::setThemeName(theme);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QImageReader::supportedImageFormats().contains("svg"),
                 "Qt's SVG image plugin is missing (Debian package libqt6svg6)");
        QVERIFY(m_themes.isValid());
        writeTheme(m_themes.path(), QStringLiteral("empty"), {});
    }

    void init() { useOnlyTheme(QStringLiteral("empty")); }

    void builtInMonochromeArtworkDraws_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("MenuBarLogo") << QStringLiteral("MenuBarLogo");
        for (const QString &symbol : menuSymbols)
            QTest::newRow(qPrintable(symbol)) << symbol;
    }
    void builtInMonochromeArtworkDraws()
    {
        QFETCH(QString, name);
        QVERIFY2(QFile::exists(builtIn(name)), qPrintable(builtIn(name)));
        const QImage image = render16(QIcon(builtIn(name)));
        QCOMPARE(image.size(), QSize(16, 16));
        // Drawn, not blank, and not a filled square: a shape Qt's SVG
        // renderer cannot draw would come out empty.
        const int opaque = opaquePixels(image);
        QVERIFY2(opaque >= 12 && opaque <= 16 * 16 * 3 / 4, qPrintable(QString::number(opaque)));
        // Masks take only the alpha channel; any colour would be a mistake.
        QVERIFY(drawsOnlyInBlack(image));
    }

    void applicationIconIsInColour()
    {
        const QImage image = QIcon(builtIn(QStringLiteral("lumivale")))
                                 .pixmap(QSize(48, 48))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(48, 48));
        QVERIFY(opaquePixels(image) > 48 * 48 / 2);
        QVERIFY(!drawsOnlyInBlack(image));
        QVERIFY(!applicationIcon().isNull());
    }

    void symbolsFallBackToBuiltInArtworkAsMasks()
    {
        for (const QString &symbol : menuSymbols) {
            const QIcon icon = menuSymbolIcon(symbol);
            QVERIFY2(!icon.isNull(), qPrintable(symbol));
            QVERIFY2(icon.isMask(), qPrintable(symbol));
            QCOMPARE(render16(icon), render16(QIcon(builtIn(symbol))));
        }
    }

    void menuBarLogoIsTheBuiltInLogoAsMask()
    {
        const QIcon logo = menuBarLogo();
        QVERIFY(!logo.isNull());
        QVERIFY(logo.isMask());
        QCOMPARE(render16(logo), render16(QIcon(builtIn(QStringLiteral("MenuBarLogo")))));
    }

    void themeIconsComeFirst_data()
    {
        QTest::addColumn<QStringList>("themeIcons");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("first name")
            << QStringList{QStringLiteral("view-refresh")} << QStringLiteral("arrow.clockwise");
        QTest::newRow("second name when the first is missing")
            << QStringList{QStringLiteral("application-exit")} << QStringLiteral("power");
        QTest::newRow("trash") << QStringList{QStringLiteral("user-trash")}
                               << QStringLiteral("trash");
        QTest::newRow("pause") << QStringList{QStringLiteral("media-playback-pause")}
                               << QStringLiteral("pause.circle");
    }
    void themeIconsComeFirst()
    {
        QFETCH(QStringList, themeIcons);
        QFETCH(QString, symbol);
        const QString theme = QStringLiteral("theme-") +
                              QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        writeTheme(m_themes.path(), theme, themeIcons);
        useOnlyTheme(theme);

        const QIcon icon = menuSymbolIcon(symbol);
        QVERIFY(icon.isMask());
        QCOMPARE(opaquePixels(render16(icon)), 16 * 16);
        // Symbols the theme lacks still have the built-in image.
        QCOMPARE(render16(menuSymbolIcon(QStringLiteral("externaldrive"))),
                 render16(QIcon(builtIn(QStringLiteral("externaldrive")))));
    }

    void unknownSymbolsHaveNoImage_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::newRow("empty") << QString();
        QTest::newRow("unknown") << QStringLiteral("gearshape");
        QTest::newRow("other case") << QStringLiteral("CPU");
        QTest::newRow("the logo is not a menu symbol") << QStringLiteral("MenuBarLogo");
        QTest::newRow("path") << QStringLiteral("../icons/cpu");
    }
    void unknownSymbolsHaveNoImage()
    {
        QFETCH(QString, symbol);
        QVERIFY(menuSymbolIcon(symbol).isNull());
    }
};

LUMIVALE_TEST_MAIN(TestResources)
#include "tst_resources.moc"
