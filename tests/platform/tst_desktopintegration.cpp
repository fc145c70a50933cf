// Which integration a session gets, how the wallpaper windows are restacked,
// and whether they draw in software, as pure decisions.

#include "platform/desktopintegration.h"
#include "platform/linux/desktoprenderpath.h"

#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;
using Kind = DesktopIntegration::Kind;
using Window = DesktopIntegration::Window;

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Window)

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sessionDecidesTheIntegration_data()
    {
        // XDG_CURRENT_DESKTOP|XDG_SESSION_TYPE|window manager name|override
        QTest::addColumn<QString>("session");
        QTest::addColumn<bool>("takeOver");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Window>("window");
        // Names the integration, and says whether the desktop is taken over,
        // XWayland is needed, or live playback is off.
        QTest::addColumn<QString>("description");

        QTest::newRow("openbox") << u"|x11|Openbox|"_s << false << Kind::Ewmh << Window::DesktopType
                                 << u"ewmh"_s;
        QTest::newRow("GNOME on X11") << u"GNOME|x11|GNOME Shell|"_s << false << Kind::Gnome
                                      << Window::DesktopType << u"gnome"_s;
        QTest::newRow("GNOME on Wayland") << u"ubuntu:GNOME|wayland||"_s << false << Kind::Gnome
                                          << Window::DesktopType << u"gnome, through XWayland"_s;
        QTest::newRow("Budgie names GNOME second")
            << u"Budgie:GNOME|x11|Mutter(Budgie)|"_s << false << Kind::Budgie << Window::DesktopType
            << u"budgie"_s;
        QTest::newRow("Cinnamon") << u"X-Cinnamon|x11|Mutter (Muffin)|"_s << false << Kind::Cinnamon
                                  << Window::DesktopType << u"cinnamon"_s;
        QTest::newRow("XFCE, not taken over")
            << u"XFCE|x11|Xfwm4|"_s << false << Kind::Xfce << Window::DesktopType
            << u"xfce, live playback off on XFCE: desktop not taken over"_s;
        QTest::newRow("XFCE, taken over") << u"XFCE|x11|Xfwm4|"_s << true << Kind::Xfce
                                          << Window::DesktopType << u"xfce, desktop taken over"_s;
        QTest::newRow("MATE, not taken over")
            << u"MATE|x11|Metacity (Marco)|"_s << false << Kind::Mate << Window::DesktopType
            << u"mate, live playback off on MATE: desktop not taken over"_s;
        QTest::newRow("i3 by its name alone")
            << u"|x11|i3|"_s << false << Kind::Tiling << Window::BottomUnmanaged << u"tiling"_s;
        QTest::newRow("i3 session")
            << u"i3|x11||"_s << false << Kind::Tiling << Window::BottomUnmanaged << u"tiling"_s;
        QTest::newRow("override wins") << u"XFCE|x11|Xfwm4| Tiling "_s << false << Kind::Tiling
                                       << Window::BottomUnmanaged << u"tiling"_s;
        QTest::newRow("unknown override is ignored")
            << u"GNOME|x11||kde"_s << false << Kind::Gnome << Window::DesktopType << u"gnome"_s;
        QTest::newRow("taking over means nothing on openbox")
            << u"|x11|Openbox|"_s << true << Kind::Ewmh << Window::DesktopType << u"ewmh"_s;
    }

    void sessionDecidesTheIntegration()
    {
        QFETCH(QString, session);
        QFETCH(bool, takeOver);
        const QStringList parts = session.split(u'|');
        const DesktopIntegration integration =
            chooseDesktopIntegration({parts[0], parts[1], parts[2]}, parts[3], takeOver);
        QTEST(integration.kind, "kind");
        QTEST(integration.window(), "window");
        QTEST(integration.description(), "description");
    }

    void restackRequests_data()
    {
        QTest::addColumn<QList<StackedWindow>>("bottomToTop");
        QTest::addColumn<Window>("window");
        QTest::addColumn<QList<RestackRequest>>("requests");

        // 1, 2: ours; 10, 11: desktop icons of other programs; 20, 21: normal windows.
        const StackedWindow ours1{1, true, false}, ours2{2, true, false};
        const StackedWindow icons10{10, false, true}, icons11{11, false, true};
        const StackedWindow normal20{20, false, false}, normal21{21, false, false};
        using Requests = QList<RestackRequest>;

        QTest::newRow("alone") << QList{ours1} << Window::DesktopType << Requests{};
        QTest::newRow("already below the icons")
            << QList{ours1, icons10, normal20} << Window::DesktopType << Requests{};
        QTest::newRow("icons mapped first")
            << QList{icons10, ours1, normal20} << Window::DesktopType << Requests{{1, 10}};
        QTest::newRow("two screens, two icon windows")
            << QList{icons10, icons11, ours1, ours2} << Window::DesktopType
            << Requests{{1, 10}, {2, 10}};
        QTest::newRow("normal windows below never pull ours down")
            << QList{normal20, ours1, normal21} << Window::DesktopType << Requests{};
        QTest::newRow("one of two out of place")
            << QList{ours1, icons10, ours2} << Window::DesktopType << Requests{{2, 10}};

        QTest::newRow("unmanaged at the bottom")
            << QList{ours1, ours2, normal20} << Window::BottomUnmanaged << Requests{};
        QTest::newRow("unmanaged under a new window")
            << QList{normal20, ours1, normal21} << Window::BottomUnmanaged << Requests{{1, 0}};
        QTest::newRow("unmanaged, both screens")
            << QList{ours1, normal20, ours2} << Window::BottomUnmanaged << Requests{{2, 0}};
    }

    void restackRequests()
    {
        QFETCH(QList<StackedWindow>, bottomToTop);
        QFETCH(Window, window);
        QTEST(lumivale::restackRequests(bottomToTop, window), "requests");
    }

    void renderPathFollowsTheRenderer_data()
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
    void renderPathFollowsTheRenderer()
    {
        QFETCH(QByteArray, forced);
        QFETCH(QString, renderer);
        QFETCH(bool, software);
        QCOMPARE(chooseDesktopRenderPath(forced, renderer) == DesktopRenderPath::Software,
                 software);
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
