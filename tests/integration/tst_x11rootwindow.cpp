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
using namespace Qt::StringLiterals;

namespace {
const Screen leftHalf{u"Left"_s, 1, QRect(0, 0, 640, 720)};
const Screen rightHalf{u"Right"_s, 2, QRect(640, 0, 640, 720)};

QString rootPixmap(const char *property)
{
    return XSession::run(u"xprop"_s, {u"-root"_s, QString::fromLatin1(property)});
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
        RootWindowDesktopPictures pictures({}, record(u"ours.json"_s));
        QVERIFY(!pictures.desktopImageURL(leftHalf)); // a bare root window: nothing to say
        QCOMPARE(errorOf(pictures.setDesktopImage(picture(u"red.png"_s, Qt::red), leftHalf, {})),
                 std::nullopt);
        QCOMPARE(errorOf(pictures.setDesktopImage(picture(u"blue.png"_s, Qt::blue), rightHalf,
                                                  {{u"mode"_s, u"stretch"_s}})),
                 std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Red);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Blue);

        const QString rootID = rootPixmap("_XROOTPMAP_ID");
        QVERIFY2(rootID.contains(u"pixmap id #"_s), qPrintable(rootID));
        QCOMPARE(rootPixmap("ESETROOT_PMAP_ID").section(u'#', 1), rootID.section(u'#', 1));

        QCOMPARE(pictures.desktopImageURL(leftHalf), picture(u"red.png"_s, Qt::red));
        QCOMPARE(pictures.desktopImageOptions(rightHalf).value(u"mode"_s), QVariant(u"stretch"_s));
    }

    void anotherSettersPictureIsSavedAndPutBack()
    {
        RootWindowDesktopPictures ours({}, record(u"ours2.json"_s));
        RootWindowDesktopPictures someoneElse({}, record(u"theirs.json"_s));
        QCOMPARE(
            errorOf(someoneElse.setDesktopImage(picture(u"green.png"_s, Qt::green), leftHalf, {})),
            std::nullopt);
        QCOMPARE(
            errorOf(someoneElse.setDesktopImage(picture(u"green.png"_s, Qt::green), rightHalf, {})),
            std::nullopt);

        fake::FakeScreenSystem screens;
        screens.setScreens({leftHalf, rightHalf});
        UserDefaults defaults(m_dir.filePath(u"defaults.json"_s));
        PreviousDesktopStore store(u"snapshots"_s, defaults, screens, ours);
        store.captureIfNeeded();
        QVERIFY(defaults.contains(u"snapshots"_s));

        QCOMPARE(errorOf(ours.setDesktopImage(picture(u"red.png"_s, Qt::red), leftHalf, {})),
                 std::nullopt);
        QCOMPARE(errorOf(ours.setDesktopImage(picture(u"red.png"_s, Qt::red), rightHalf, {})),
                 std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Red);

        QCOMPARE(errorOf(store.restore()), std::nullopt);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Green);
        QCOMPARE(classify(XSession::colorAt(QPoint(960, 360))), Hue::Green);
    }

    void badInputFailsAndLeavesTheScreen()
    {
        RootWindowDesktopPictures pictures({}, record(u"bad.json"_s));
        QCOMPARE(errorOf(pictures.setDesktopImage(picture(u"blue.png"_s, Qt::blue), leftHalf, {})),
                 std::nullopt);
        const QString text = m_dir.filePath(u"text.png"_s);
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        auto error = errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(text), leftHalf, {}));
        QVERIFY(error);
        QCOMPARE(error->domain(), u"DesktopPictures"_s);
        error = errorOf(pictures.setDesktopImage(picture(u"red.png"_s, Qt::red), leftHalf,
                                                 {{u"mode"_s, u"sideways"_s}}));
        QVERIFY(error);
        QCOMPARE(classify(XSession::colorAt(QPoint(320, 360))), Hue::Blue);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11RootWindow, 1280, 720)
#include "tst_x11rootwindow.moc"
