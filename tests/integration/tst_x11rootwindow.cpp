// The root-window desktop picture under Xvfb: each screen's part drawn on its
// own, the properties X11 programs look for, what another setter left behind
// saved and put back, and bad input.

#include "app/runtime.h"
#include "desktop/previousdesktopstore.h"
#include "platform/fake/fakeplatform.h"
#include "platform/linux/desktoppictures/rootwindowdesktoppictures.h"
#include "platform/userdefaults.h"
#include "support/xsession.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;

namespace {
const Screen leftHalf{QStringLiteral("Left"), 1, QRect(0, 0, 640, 720)};
const Screen rightHalf{QStringLiteral("Right"), 2, QRect(640, 0, 640, 720)};

QString rootPixmap(const char *property)
{
    return XSession::run(QStringLiteral("xprop"),
                         {QStringLiteral("-root"), QString::fromLatin1(property)});
}
} // namespace

class TestX11RootWindow : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    QTemporaryDir m_dir;

    QUrl picture(const QString &name, Qt::GlobalColor color)
    {
        const QString path = m_dir.filePath(name);
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(color);
        image.save(path, "png");
        return QUrl::fromLocalFile(path);
    }
    DesktopPictureRecord record(const QString &name)
    {
        return DesktopPictureRecord(m_dir.filePath(name));
    }

private Q_SLOTS:
    void eachScreenGetsItsOwnPicture()
    {
        RootWindowDesktopPictures pictures({}, record(QStringLiteral("ours.json")));
        QVERIFY(!pictures.desktopImageURL(leftHalf)); // a bare root window: nothing to say
        QCOMPARE(errorOf(pictures.setDesktopImage(picture(QStringLiteral("red.png"), Qt::red),
                                                  leftHalf, {})),
                 std::nullopt);
        QCOMPARE(errorOf(pictures.setDesktopImage(
                     picture(QStringLiteral("blue.png"), Qt::blue), rightHalf,
                     {{QStringLiteral("mode"), QStringLiteral("stretch")}})),
                 std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Red);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Blue);

        const QString rootID = rootPixmap("_XROOTPMAP_ID");
        QVERIFY2(rootID.contains(QStringLiteral("pixmap id #")), qPrintable(rootID));
        QCOMPARE(rootPixmap("ESETROOT_PMAP_ID").section(u'#', 1), rootID.section(u'#', 1));

        QCOMPARE(pictures.desktopImageURL(leftHalf), picture(QStringLiteral("red.png"), Qt::red));
        QCOMPARE(pictures.desktopImageOptions(rightHalf).value(QStringLiteral("mode")),
                 QVariant(QStringLiteral("stretch")));
    }

    void anotherSettersPictureIsSavedAndPutBack()
    {
        RootWindowDesktopPictures ours({}, record(QStringLiteral("ours2.json")));
        RootWindowDesktopPictures someoneElse({}, record(QStringLiteral("theirs.json")));
        QCOMPARE(errorOf(someoneElse.setDesktopImage(
                     picture(QStringLiteral("green.png"), Qt::green), leftHalf, {})),
                 std::nullopt);
        QCOMPARE(errorOf(someoneElse.setDesktopImage(
                     picture(QStringLiteral("green.png"), Qt::green), rightHalf, {})),
                 std::nullopt);

        fake::FakeScreenSystem screens;
        screens.setScreens({leftHalf, rightHalf});
        UserDefaults defaults(m_dir.filePath(QStringLiteral("defaults.json")));
        PreviousDesktopStore store(QStringLiteral("snapshots"), defaults, screens, ours);
        store.captureIfNeeded();
        QVERIFY(defaults.contains(QStringLiteral("snapshots")));

        QCOMPARE(errorOf(ours.setDesktopImage(picture(QStringLiteral("red.png"), Qt::red), leftHalf,
                                              {})),
                 std::nullopt);
        QCOMPARE(errorOf(ours.setDesktopImage(picture(QStringLiteral("red.png"), Qt::red),
                                              rightHalf, {})),
                 std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Red);

        QCOMPARE(store.restore(), std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Green);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Green);
    }

    void badInputFailsAndLeavesTheScreen()
    {
        RootWindowDesktopPictures pictures({}, record(QStringLiteral("bad.json")));
        QCOMPARE(errorOf(pictures.setDesktopImage(picture(QStringLiteral("blue.png"), Qt::blue),
                                                  leftHalf, {})),
                 std::nullopt);
        const QString text = m_dir.filePath(QStringLiteral("text.png"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        auto error = errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(text), leftHalf, {}));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("DesktopPictures"));
        error = errorOf(
            pictures.setDesktopImage(picture(QStringLiteral("red.png"), Qt::red), leftHalf,
                                     {{QStringLiteral("mode"), QStringLiteral("sideways")}}));
        QVERIFY(error);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Blue);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11RootWindow, 1280, 720)
#include "tst_x11rootwindow.moc"
