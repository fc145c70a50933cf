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
using namespace Qt::StringLiterals;

namespace {

const QStringList menuSymbols = u"cpu memorychip externaldrive rectangle.grid.2x2 arrow.clockwise "
                                u"trash power arrow.down.circle pause.circle xmark.circle "
                                u"play.rectangle.fill"_s.split(u' ');

QString builtIn(const QString &name)
{
    return u":/lumivale/icons/"_s + name + u".svg"_s;
}

QImage render(const QIcon &icon, int size = 16)
{
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The mostly opaque pixels, and whether any pixel drawn has a colour.
std::pair<int, bool> opaqueAndColoured(const QImage &image)
{
    int opaque = 0;
    bool coloured = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            opaque += qAlpha(pixel) > 0x80 ? 1 : 0;
            coloured |= qAlpha(pixel) > 0 && (qRed(pixel) | qGreen(pixel) | qBlue(pixel)) != 0;
        }
    }
    return {opaque, coloured};
}

// A one-icon-per-file theme under `root`: each named icon is a fully opaque
// black square, unlike any built-in artwork.
void writeTheme(const QString &root, const QString &theme, const QStringList &iconNames)
{
    const QString dir = root + u'/' + theme + u"/scalable/actions"_s;
    QVERIFY(QDir().mkpath(dir));
    QFile index(root + u'/' + theme + u"/index.theme"_s);
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Test\nDirectories=scalable/actions\n\n"
                "[scalable/actions]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    for (const QString &name : iconNames) {
        QFile icon(dir + u'/' + name + u".svg"_s);
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
        writeTheme(m_themes.path(), u"empty"_s, {});
    }

    void init() { useOnlyTheme(u"empty"_s); }

    // Each built-in image draws a shape (an SVG feature Qt cannot draw comes
    // out blank), in black only, and is what its icon falls back to, as a mask.
    void builtInMonochromeArtwork_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("MenuBarLogo") << u"MenuBarLogo"_s;
        for (const QString &symbol : menuSymbols)
            QTest::newRow(qPrintable(symbol)) << symbol;
    }
    void builtInMonochromeArtwork()
    {
        QFETCH(QString, name);
        QVERIFY2(QFile::exists(builtIn(name)), qPrintable(builtIn(name)));
        const QImage image = render(QIcon(builtIn(name)));
        QCOMPARE(image.size(), QSize(16, 16));
        const auto [opaque, coloured] = opaqueAndColoured(image);
        QVERIFY2(opaque >= 12 && opaque <= 16 * 16 * 3 / 4, qPrintable(QString::number(opaque)));
        QVERIFY(!coloured);
        const QIcon icon = name == u"MenuBarLogo" ? menuBarLogo() : menuSymbolIcon(name);
        QVERIFY(icon.isMask());
        QCOMPARE(render(icon), image);
    }

    void applicationIconIsInColour()
    {
        const QImage image = render(QIcon(builtIn(u"lumivale"_s)), 48);
        QCOMPARE(image.size(), QSize(48, 48));
        const auto [opaque, coloured] = opaqueAndColoured(image);
        QVERIFY(opaque > 48 * 48 / 2);
        QVERIFY(coloured);
        QVERIFY(!applicationIcon().isNull());
    }

    void themeIconsComeFirst_data()
    {
        QTest::addColumn<QStringList>("themeIcons");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("first name") << QStringList{u"view-refresh"_s} << u"arrow.clockwise"_s;
        QTest::newRow("second name when the first is missing")
            << QStringList{u"application-exit"_s} << u"power"_s;
    }
    void themeIconsComeFirst()
    {
        QFETCH(QStringList, themeIcons);
        QFETCH(QString, symbol);
        const QString theme =
            u"theme-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        writeTheme(m_themes.path(), theme, themeIcons);
        useOnlyTheme(theme);

        const QIcon icon = menuSymbolIcon(symbol);
        QVERIFY(icon.isMask());
        QCOMPARE(opaqueAndColoured(render(icon)).first, 16 * 16);
        // Symbols the theme lacks still have the built-in image.
        QCOMPARE(render(menuSymbolIcon(u"externaldrive"_s)),
                 render(QIcon(builtIn(u"externaldrive"_s))));
    }

    void unknownSymbolsHaveNoImage()
    {
        // The logo is not a menu symbol; names match exactly, never as paths.
        for (const QString &symbol :
             {u""_s, u"gearshape"_s, u"CPU"_s, u"MenuBarLogo"_s, u"../icons/cpu"_s})
            QVERIFY2(menuSymbolIcon(symbol).isNull(), qPrintable(symbol));
    }
};

LUMIVALE_TEST_MAIN(TestResources)
#include "tst_resources.moc"
