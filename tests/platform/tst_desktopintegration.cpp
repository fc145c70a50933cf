// Which integration a session gets, and how the wallpaper windows are
// restacked, as pure decisions.

#include "platform/desktopintegration.h"

#include <QTest>

using namespace lumivale;
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
        QTest::addColumn<QString>("currentDesktop");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("windowManager");
        QTest::addColumn<QString>("overrideName");
        QTest::addColumn<bool>("takeOver");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Window>("window");
        QTest::addColumn<bool>("live");
        QTest::addColumn<bool>("xwayland");
        QTest::addColumn<QString>("description");

        const QString none;
        QTest::newRow("openbox") << none << "x11"
                                 << "Openbox" << none << false << Kind::Ewmh << Window::DesktopType
                                 << true << false << "ewmh";
        QTest::newRow("GNOME on X11") << "GNOME"
                                      << "x11"
                                      << "GNOME Shell" << none << false << Kind::Gnome
                                      << Window::DesktopType << true << false << "gnome";
        QTest::newRow("GNOME on Wayland")
            << "ubuntu:GNOME"
            << "wayland" << none << none << false << Kind::Gnome << Window::DesktopType << true
            << true << "gnome, through XWayland";
        QTest::newRow("Budgie names GNOME second")
            << "Budgie:GNOME"
            << "x11"
            << "Mutter(Budgie)" << none << false << Kind::Budgie << Window::DesktopType << true
            << false << "budgie";
        QTest::newRow("Cinnamon") << "X-Cinnamon"
                                  << "x11"
                                  << "Mutter (Muffin)" << none << false << Kind::Cinnamon
                                  << Window::DesktopType << true << false << "cinnamon";
        QTest::newRow("XFCE, not taken over")
            << "XFCE"
            << "x11"
            << "Xfwm4" << none << false << Kind::Xfce << Window::DesktopType << false << false
            << "xfce, live playback off on XFCE: desktop not taken over";
        QTest::newRow("XFCE, taken over")
            << "XFCE"
            << "x11"
            << "Xfwm4" << none << true << Kind::Xfce << Window::DesktopType << true << false
            << "xfce, desktop taken over";
        QTest::newRow("MATE, not taken over")
            << "MATE"
            << "x11"
            << "Metacity (Marco)" << none << false << Kind::Mate << Window::DesktopType << false
            << false << "mate, live playback off on MATE: desktop not taken over";
        QTest::newRow("i3 by its name alone")
            << none << "x11"
            << "i3" << none << false << Kind::Tiling << Window::BottomUnmanaged << true << false
            << "tiling";
        QTest::newRow("i3 session") << "i3"
                                    << "x11" << none << none << false << Kind::Tiling
                                    << Window::BottomUnmanaged << true << false << "tiling";
        QTest::newRow("override wins") << "XFCE"
                                       << "x11"
                                       << "Xfwm4"
                                       << " Tiling " << false << Kind::Tiling
                                       << Window::BottomUnmanaged << true << false << "tiling";
        QTest::newRow("unknown override is ignored")
            << "GNOME"
            << "x11" << none << "kde" << false << Kind::Gnome << Window::DesktopType << true
            << false << "gnome";
        QTest::newRow("taking over means nothing on openbox")
            << none << "x11"
            << "Openbox" << none << true << Kind::Ewmh << Window::DesktopType << true << false
            << "ewmh";
    }

    void sessionDecidesTheIntegration()
    {
        QFETCH(QString, currentDesktop);
        QFETCH(QString, sessionType);
        QFETCH(QString, windowManager);
        QFETCH(QString, overrideName);
        QFETCH(bool, takeOver);
        const DesktopIntegration integration = chooseDesktopIntegration(
            {currentDesktop, sessionType, windowManager}, overrideName, takeOver);
        QTEST(integration.kind, "kind");
        QTEST(integration.window(), "window");
        QTEST(integration.showsLivePlayback(), "live");
        QTEST(integration.needsXWayland, "xwayland");
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
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
