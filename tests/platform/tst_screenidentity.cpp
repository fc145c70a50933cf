#include "platform/linux/x11screens.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

namespace {

QByteArray edid(quint16 vendor, quint16 product, quint32 serial, const char *model = nullptr)
{
    QByteArray block(128, '\0');
    block.replace(0, 8, QByteArray::fromHex("00ffffffffffff00"));
    block[8] = char(vendor >> 8);
    block[9] = char(vendor);
    block[10] = char(product);
    block[11] = char(product >> 8);
    for (int i = 0; i < 4; ++i)
        block[12 + i] = char(serial >> (8 * i));
    if (model) {
        block[72 + 3] = char(0xfc);
        block.replace(72 + 5, 13, (QByteArray(model) + '\n').leftJustified(13, ' ', true));
    }
    return block;
}

} // namespace

class TestScreenIdentity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void numberFollowsVendorProductAndSerial()
    {
        const auto a = X11ScreenSystem::numberFromEDID(edid(0x10ac, 0xa0c4, 12345));
        QVERIFY(a);
        // The same monitor gives the same number, here and in any other run.
        QCOMPARE(X11ScreenSystem::numberFromEDID(edid(0x10ac, 0xa0c4, 12345)), a);
        QVERIFY(X11ScreenSystem::numberFromEDID(edid(0x10ac, 0xa0c4, 12346)) != a);
        QVERIFY(X11ScreenSystem::numberFromEDID(edid(0x10ac, 0xa0c5, 12345)) != a);
    }

    void unreadableEDIDGivesNoNumber()
    {
        QVERIFY(!X11ScreenSystem::numberFromEDID({}));
        QVERIFY(!X11ScreenSystem::numberFromEDID(QByteArray(128, '\0')));
        QVERIFY(!X11ScreenSystem::numberFromEDID(edid(1, 2, 3).left(127)));
    }

    void modelComesFromTheNameDescriptor()
    {
        QCOMPARE(X11ScreenSystem::modelFromEDID(edid(1, 2, 3, "DELL U2720Q")), u"DELL U2720Q"_s);
        QCOMPARE(X11ScreenSystem::modelFromEDID(edid(1, 2, 3)), QString());
    }

    void coveringAndDuplicateFramesAreNotSeparateScreens_data()
    {
        QTest::addColumn<QList<QRect>>("frames");
        QTest::addColumn<QList<int>>("kept");
        const QRect left(0, 0, 640, 480), right(640, 0, 640, 480), all(0, 0, 1280, 480);
        QTest::newRow("one") << QList<QRect>{all} << QList<int>{0};
        QTest::newRow("side by side") << QList<QRect>{left, right} << QList<int>{0, 1};
        QTest::newRow("spanning screen first")
            << QList<QRect>{all, left, right} << QList<int>{1, 2};
        QTest::newRow("spanning screen last") << QList<QRect>{left, right, all} << QList<int>{0, 1};
        QTest::newRow("mirrored") << QList<QRect>{left, left, right} << QList<int>{0, 2};
    }
    void coveringAndDuplicateFramesAreNotSeparateScreens()
    {
        QFETCH(QList<QRect>, frames);
        QFETCH(QList<int>, kept);
        QCOMPARE(X11ScreenSystem::separateScreenIndexes(frames), kept);
    }
};

LUMIVALE_TEST_MAIN(TestScreenIdentity)
#include "tst_screenidentity.moc"
