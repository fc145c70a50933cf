#include "platform/linux/desktoprenderpath.h"

#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

class TestDesktopRenderPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choice_data()
    {
        QTest::addColumn<QByteArray>("forced");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("software");
        const QString llvmpipe = u"llvmpipe (LLVM 15.0.6, 256 bits)"_s;
        const QString intel = u"Mesa Intel(R) UHD Graphics 620 (KBL GT2)"_s;
        QTest::newRow("llvmpipe") << QByteArray() << llvmpipe << true;
        QTest::newRow("softpipe") << QByteArray() << u"softpipe"_s << true;
        QTest::newRow("swrast") << QByteArray() << u"Software Rasterizer (swrast)"_s << true;
        QTest::newRow("no OpenGL") << QByteArray() << QString() << true;
        QTest::newRow("hardware") << QByteArray() << intel << false;
        QTest::newRow("forced gl") << QByteArray("gl") << llvmpipe << false;
        QTest::newRow("forced sw") << QByteArray("sw") << intel << true;
        QTest::newRow("unknown word") << QByteArray("vulkan") << intel << false;
    }
    void choice()
    {
        QFETCH(QByteArray, forced);
        QFETCH(QString, renderer);
        QFETCH(bool, software);
        QCOMPARE(chooseDesktopRenderPath(forced, renderer) == DesktopRenderPath::Software,
                 software);
    }
};

QTEST_GUILESS_MAIN(TestDesktopRenderPath)
#include "tst_desktoprenderpath.moc"
