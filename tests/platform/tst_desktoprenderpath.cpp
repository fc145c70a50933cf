#include "platform/linux/desktoprenderpath.h"

#include <QTest>

using namespace lumivale;

class TestDesktopRenderPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choice_data()
    {
        QTest::addColumn<QByteArray>("forced");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("software");
        const QString llvmpipe = QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)");
        const QString intel = QStringLiteral("Mesa Intel(R) UHD Graphics 620 (KBL GT2)");
        QTest::newRow("llvmpipe") << QByteArray() << llvmpipe << true;
        QTest::newRow("softpipe") << QByteArray() << QStringLiteral("softpipe") << true;
        QTest::newRow("swrast") << QByteArray() << QStringLiteral("Software Rasterizer (swrast)")
                                << true;
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
