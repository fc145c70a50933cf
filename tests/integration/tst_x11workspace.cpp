// Other processes' windows under Xvfb and openbox, as the workspace lists
// them, and the changes of the focused window it reports.

#include "app/runtime.h"
#include "platform/linux/x11workspace.h"
#include "support/xsession.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <functional>
#include <list>
#include <xcb/xcb.h>

using namespace lumivale;
using namespace lumivale::test;

namespace {

// The machine is slow and shared: every wait is generous.
constexpr int kTimeout = 20000;
const QRect kScreen(0, 0, 1280, 720);

QString hex(quint32 window)
{
    return QStringLiteral("0x%1").arg(window, 0, 16);
}

bool runTool(const QString &program, const QStringList &arguments)
{
    int exitCode = -1;
    const QString output = XSession::run(program, arguments, &exitCode);
    if (exitCode != 0)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(u' ')),
                 qPrintable(output));
    return exitCode == 0;
}

bool wmctrl(const QStringList &arguments)
{
    return runTool(QStringLiteral("wmctrl"), arguments);
}

bool activate(quint32 window)
{
    return wmctrl({QStringLiteral("-i"), QStringLiteral("-a"), hex(window)});
}

bool changeState(quint32 window, const QString &change)
{
    return wmctrl(
        {QStringLiteral("-i"), QStringLiteral("-r"), hex(window), QStringLiteral("-b"), change});
}

bool setCardinal(const QString &target, const QString &property, qint64 value)
{
    QStringList arguments = target.isEmpty() ? QStringList{QStringLiteral("-root")}
                                             : QStringList{QStringLiteral("-id"), target};
    arguments << QStringLiteral("-f") << property << QStringLiteral("32c") << QStringLiteral("-set")
              << property << QString::number(value);
    return runTool(QStringLiteral("xprop"), arguments);
}

quint32 activeWindow()
{
    const QString text = XSession::run(
        QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    const qsizetype hash = text.indexOf(u'#');
    return hash < 0 ? 0 : text.mid(hash + 1).trimmed().toUInt(nullptr, 16);
}

int xwininfoField(const QString &text, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) +
                                     QStringLiteral(":\\s*(-?\\d+)"));
    return pattern.match(text).captured(1).toInt();
}

bool isHidden(const WindowDescription &window)
{
    return window.isHidden;
}
bool isShown(const WindowDescription &window)
{
    return !window.isHidden;
}
bool isHere(const WindowDescription &window)
{
    return window.isOnCurrentWorkspace;
}
bool isElsewhere(const WindowDescription &window)
{
    return !window.isOnCurrentWorkspace;
}

// Where the window manager's frame around a client lies on the screen, read
// from the frame window itself (openbox reparents each client into it).
QRect decorationFrame(quint32 window)
{
    const QString tree = XSession::run(
        QStringLiteral("xwininfo"), {QStringLiteral("-id"), hex(window), QStringLiteral("-tree")});
    const QString parent = QRegularExpression(QStringLiteral("Parent window id: (0x[0-9a-f]+)"))
                               .match(tree)
                               .captured(1);
    const QString info = XSession::run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), parent});
    return QRect(xwininfoField(info, QStringLiteral("Absolute upper-left X")),
                 xwininfoField(info, QStringLiteral("Absolute upper-left Y")),
                 xwininfoField(info, QStringLiteral("Width")),
                 xwininfoField(info, QStringLiteral("Height")));
}

xcb_connection_t *qtConnection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

void setRootWindowList(const char *name, const QList<quint32> &windows)
{
    xcb_connection_t *connection = qtConnection();
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_WINDOW, 32,
                        uint32_t(windows.size()), windows.constData());
    xcb_flush(connection);
    std::free(atom);
}

// Lets every X event caused so far reach the application, and every check
// those events queued run: a property set on the root window after them
// comes back after them.
class EventBarrier : public QAbstractNativeEventFilter
{
public:
    EventBarrier() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~EventBarrier() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool pass()
    {
        xcb_connection_t *connection = qtConnection();
        if (m_atom == XCB_ATOM_NONE) {
            const char name[] = "_LUMIVALE_TEST_BARRIER";
            xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
                connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
            m_atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            std::free(reply);
        }
        const int expected = ++m_sent;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, m_atom, XCB_ATOM_CARDINAL, 32,
                            1, &expected);
        xcb_flush(connection);
        if (!waitUntil([&] { return m_seen >= expected; }, kTimeout))
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return true;
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & ~0x80) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t *>(event)->atom == m_atom)
            ++m_seen;
        return false;
    }

private:
    xcb_atom_t m_atom = XCB_ATOM_NONE;
    int m_sent = 0;
    int m_seen = 0;
};

xcb_atom_t internAtom(const char *name)
{
    xcb_connection_t *connection = qtConnection();
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The window that has the X server's input focus (or PointerRoot, or none).
quint32 inputFocus()
{
    xcb_connection_t *connection = qtConnection();
    xcb_get_input_focus_reply_t *reply =
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const quint32 focus = reply ? reply->focus : 0;
    std::free(reply);
    return focus;
}

// A round trip through the window manager: openbox handles the events that
// reach it in order, so once it has answered a request sent now, it has
// handled every request made of it before (activations, new windows to
// focus). The request asks for the frame extents of a window it does not
// manage, which it answers by setting _NET_FRAME_EXTENTS on that window.
class WindowManagerRoundTrip : public QAbstractNativeEventFilter
{
public:
    WindowManagerRoundTrip() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~WindowManagerRoundTrip() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (m_window != XCB_WINDOW_NONE) {
            xcb_destroy_window(qtConnection(), m_window);
            xcb_flush(qtConnection());
        }
    }

    bool pass()
    {
        xcb_connection_t *connection = qtConnection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        if (m_window == XCB_WINDOW_NONE) {
            m_extents = internAtom("_NET_FRAME_EXTENTS");
            m_request = internAtom("_NET_REQUEST_FRAME_EXTENTS");
            // Never mapped, so never managed.
            m_window = xcb_generate_id(connection);
            const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_create_window(connection, XCB_COPY_FROM_PARENT, m_window, root, -10, -10, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                              XCB_CW_EVENT_MASK, &events);
        }
        const int expected = ++m_sent;
        xcb_client_message_event_t request{};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = m_window;
        request.type = m_request;
        xcb_send_event(connection, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&request));
        xcb_flush(connection);
        return waitUntil([&] { return m_seen >= expected; }, kTimeout);
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t" || m_window == XCB_WINDOW_NONE)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (change->window == m_window && change->atom == m_extents)
            ++m_seen;
        return false;
    }

private:
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_atom_t m_extents = XCB_ATOM_NONE;
    xcb_atom_t m_request = XCB_ATOM_NONE;
    int m_sent = 0;
    int m_seen = 0;
};

} // namespace

class TestX11Workspace : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    struct Client
    {
        std::unique_ptr<QProcess> process;
        quint32 window = 0;
        qint64 pid = 0;
    };

    std::list<Client> m_clients;
    std::unique_ptr<X11Workspace> m_workspace;
    EventBarrier m_barrier;
    WindowManagerRoundTrip m_windowManager;

    // An xmessage window of a process of its own, managed by the window
    // manager. Xt does not publish _NET_WM_PID, so unless told otherwise the
    // test publishes the real one the way toolkits do.
    Client &startClient(const QString &title, bool publishPID = true)
    {
        Client &client = m_clients.emplace_back();
        client.process = std::make_unique<QProcess>();
        client.process->setStandardErrorFile(QProcess::nullDevice());
        client.process->start(QStringLiteral("xmessage"),
                              {QStringLiteral("-title"), title, QStringLiteral("Same text")});
        if (!client.process->waitForStarted(kTimeout))
            return client;
        client.pid = client.process->processId();
        waitUntil(
            [&] {
                const QString found = XSession::run(
                    QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--name"), u'^' + title + u'$'});
                client.window = found.section(u'\n', 0, 0).toUInt();
                return client.window != 0;
            },
            kTimeout);
        // Managed once the window manager has given it decorations.
        waitUntil(
            [&] {
                return XSession::run(QStringLiteral("xprop"),
                                     {QStringLiteral("-id"), hex(client.window),
                                      QStringLiteral("_NET_FRAME_EXTENTS")})
                    .contains(u'=');
            },
            kTimeout);
        // openbox decorates a window before it shows it, in one go: shown
        // once it has answered a request made after.
        waitForWindowManager([] { return true; });
        if (publishPID)
            setCardinal(hex(client.window), QStringLiteral("_NET_WM_PID"), client.pid);
        return client;
    }

    std::optional<WindowDescription> describe(qint64 pid) const
    {
        const auto windows = m_workspace->windowsFrontToBack();
        if (!windows)
            return std::nullopt;
        for (const WindowDescription &window : *windows) {
            if (window.ownerProcessID == pid)
                return window;
        }
        return std::nullopt;
    }

    // Whether the window of that process is listed and passes the test.
    bool windowOf(qint64 pid, const std::function<bool(const WindowDescription &)> &test) const
    {
        const auto description = describe(pid);
        return description && test(*description);
    }

    std::optional<QRect> frameOf(qint64 pid) const
    {
        const auto description = describe(pid);
        return description ? description->frame : std::nullopt;
    }

    QList<qint64> frontToBackAmong(const QList<qint64> &pids) const
    {
        QList<qint64> order;
        for (const WindowDescription &window :
             m_workspace->windowsFrontToBack().value_or(QList<WindowDescription>{})) {
            if (window.ownerProcessID && pids.contains(*window.ownerProcessID))
                order.append(*window.ownerProcessID);
        }
        return order;
    }

    // Waits until the window manager has caught up with everything asked of
    // it and `settled` holds, two round trips through it in a row: on a busy
    // machine openbox falls behind, and a window it still names may be one it
    // is about to take the focus from.
    bool waitForWindowManager(const std::function<bool()> &settled)
    {
        const QDeadlineTimer deadline(kTimeout);
        for (int rounds = 0; rounds < 2;) {
            if (deadline.hasExpired() || !m_windowManager.pass())
                return false;
            rounds = settled() ? rounds + 1 : 0;
        }
        return true;
    }

    // Active once the window manager names it and the server gives it the
    // focus, with nothing left for the window manager to do.
    bool activateAndWait(quint32 window)
    {
        return activate(window) && waitForWindowManager([&] {
                   return activeWindow() == window && inputFocus() == window;
               });
    }

private Q_SLOTS:
    void init() { m_workspace = std::make_unique<X11Workspace>(); }

    void cleanup()
    {
        m_workspace.reset();
        for (Client &client : m_clients) {
            client.process->terminate();
            if (!client.process->waitForFinished(kTimeout))
                client.process->kill();
            client.process->waitForFinished();
        }
        m_clients.clear();
        wmctrl({QStringLiteral("-s"), QStringLiteral("0")});
    }

    void listsWindowsFrontToBack()
    {
        const Client &a = startClient(QStringLiteral("order-a"));
        const Client &b = startClient(QStringLiteral("order-b"));
        const Client &c = startClient(QStringLiteral("order-c"));
        const QList<qint64> pids{a.pid, b.pid, c.pid};

        QVERIFY(activateAndWait(c.window));
        QVERIFY(activateAndWait(b.window));
        QVERIFY(activateAndWait(a.window));
        QTRY_COMPARE_WITH_TIMEOUT(frontToBackAmong(pids), (QList<qint64>{a.pid, b.pid, c.pid}),
                                  kTimeout);
        QVERIFY(activateAndWait(c.window));
        QTRY_COMPARE_WITH_TIMEOUT(frontToBackAmong(pids), (QList<qint64>{c.pid, a.pid, b.pid}),
                                  kTimeout);
    }

    void describesOneWindow()
    {
        const Client &client = startClient(QStringLiteral("describe"));
        QTRY_VERIFY_WITH_TIMEOUT(describe(client.pid).has_value(), kTimeout);
        const WindowDescription description = *describe(client.pid);
        QCOMPARE(description.ownerProcessID, client.pid);
        QVERIFY(!description.isHidden);
        QVERIFY(description.isOnCurrentWorkspace);
        // The frame is the decorated one, larger than the client itself.
        QVERIFY(description.frame.has_value());
        QCOMPARE(*description.frame, decorationFrame(client.window));
        const QString extents =
            XSession::run(QStringLiteral("xprop"), {QStringLiteral("-id"), hex(client.window),
                                                    QStringLiteral("_NET_FRAME_EXTENTS")});
        const QString info =
            XSession::run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), hex(client.window)});
        QVERIFY2(description.frame->height() > xwininfoField(info, QStringLiteral("Height")),
                 qPrintable(extents));

        QVERIFY(activateAndWait(client.window));
        QCOMPARE(m_workspace->activeWindowFrame(), description.frame);
    }

    void leavesOutDesktopWindows()
    {
        const Client &client = startClient(QStringLiteral("desktop-type"));
        QTRY_VERIFY_WITH_TIMEOUT(describe(client.pid).has_value(), kTimeout);
        QVERIFY(runTool(QStringLiteral("xprop"),
                        {QStringLiteral("-id"), hex(client.window), QStringLiteral("-f"),
                         QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("32a"),
                         QStringLiteral("-set"), QStringLiteral("_NET_WM_WINDOW_TYPE"),
                         QStringLiteral("_NET_WM_WINDOW_TYPE_DESKTOP")}));
        QTRY_VERIFY_WITH_TIMEOUT(!describe(client.pid).has_value(), kTimeout);
    }

    void windowWithoutPIDHasNoOwner()
    {
        const Client &client = startClient(QStringLiteral("anonymous"), false);
        const QRect frame = decorationFrame(client.window);
        const auto windows = m_workspace->windowsFrontToBack();
        QVERIFY(windows.has_value());
        const auto it = std::find_if(windows->begin(), windows->end(),
                                     [&](const WindowDescription &w) { return w.frame == frame; });
        QVERIFY(it != windows->end());
        QCOMPARE(it->ownerProcessID, std::nullopt);
    }

    void ownWindowCarriesOwnPID()
    {
        QWidget widget;
        widget.setWindowTitle(QStringLiteral("own window"));
        widget.resize(320, 200);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget, kTimeout));
        const qint64 ownPID = QCoreApplication::applicationPid();
        QTRY_VERIFY_WITH_TIMEOUT(describe(ownPID).has_value(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(frameOf(ownPID), decorationFrame(quint32(widget.winId())),
                                  kTimeout);
    }

    void fullScreenFrameIsTheScreen()
    {
        const Client &client = startClient(QStringLiteral("full"));
        QVERIFY(activateAndWait(client.window));
        QVERIFY(changeState(client.window, QStringLiteral("add,fullscreen")));
        QTRY_COMPARE_WITH_TIMEOUT(frameOf(client.pid), kScreen, kTimeout);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), kScreen);
        QCOMPARE(m_workspace->activeWindowFrame(), kScreen);
        QVERIFY(changeState(client.window, QStringLiteral("remove,fullscreen")));
        QTRY_VERIFY_WITH_TIMEOUT(frameOf(client.pid) && frameOf(client.pid) != kScreen, kTimeout);
    }

    void minimisedWindowIsHidden()
    {
        const Client &client = startClient(QStringLiteral("minimised"));
        QVERIFY(activateAndWait(client.window));
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("windowminimize"), QString::number(client.window)}));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isHidden), kTimeout);
        QVERIFY(windowOf(client.pid, isHere));
        // openbox leaves no window focused.
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindowFrame(), std::nullopt, kTimeout);

        QVERIFY(activateAndWait(client.window));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isShown), kTimeout);
    }

    void windowOnAnotherDesktop()
    {
        const Client &client = startClient(QStringLiteral("elsewhere"));
        QVERIFY(wmctrl({QStringLiteral("-i"), QStringLiteral("-r"), hex(client.window),
                        QStringLiteral("-t"), QStringLiteral("1")}));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isElsewhere), kTimeout);

        QVERIFY(wmctrl({QStringLiteral("-s"), QStringLiteral("1")}));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isHere), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isShown), kTimeout);

        QVERIFY(wmctrl({QStringLiteral("-s"), QStringLiteral("0")}));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isElsewhere), kTimeout);
        // On every desktop (openbox ignores wmctrl's sticky).
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("set_desktop_for_window"), QString::number(client.window),
                         QStringLiteral("4294967295")}));
        QTRY_VERIFY_WITH_TIMEOUT(windowOf(client.pid, isHere), kTimeout);
    }

    void reportsActivationOfAnotherProcess()
    {
        const Client &a = startClient(QStringLiteral("switch-a"));
        const Client &b = startClient(QStringLiteral("switch-b"));
        QVERIFY(activateAndWait(a.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        QVERIFY(activate(b.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QVERIFY(m_barrier.pass());
        changes.clear();
        QVERIFY(activate(a.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void reportsWhenNoWindowIsFocused()
    {
        const Client &client = startClient(QStringLiteral("last-one"));
        QVERIFY(activateAndWait(client.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // openbox leaves nothing focused when the only window goes.
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("windowminimize"), QString::number(client.window)}));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), quint32(0), kTimeout);
        QCOMPARE(m_workspace->activeWindowFrame(), std::nullopt);
    }

    void ignoresGapWhileFocusMoves()
    {
        const Client &first = startClient(QStringLiteral("handover-a"));
        Client &second = startClient(QStringLiteral("handover-b"), false);
        QVERIFY(setCardinal(hex(second.window), QStringLiteral("_NET_WM_PID"), first.pid));
        const Client &other = startClient(QStringLiteral("handover-c"));
        QVERIFY(activateAndWait(first.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // How openbox can leave things when the focus leaves a window before
        // it has seen it arrive at the next: the server gives the focus to
        // the second window while the root names none. Holding the server
        // keeps openbox from naming the second window before the workspace
        // has looked.
        xcb_connection_t *connection = qtConnection();
        xcb_grab_server(connection);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, second.window,
                            XCB_CURRENT_TIME);
        setRootWindowList("_NET_ACTIVE_WINDOW", {XCB_WINDOW_NONE});
        const bool looked = m_barrier.pass();
        xcb_ungrab_server(connection);
        xcb_flush(connection);
        QVERIFY(looked);
        QCOMPARE(changes.count(), 0);

        // openbox sees the focus arrive and names the window: the same
        // process as before.
        QVERIFY(waitForWindowManager([&] { return activeWindow() == second.window; }));
        QVERIFY(m_barrier.pass());
        QCOMPARE(changes.count(), 0);

        // A window of another process after the gap is still news.
        QVERIFY(activate(other.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void reportsFocusLeavingForNoWindow()
    {
        const Client &client = startClient(QStringLiteral("leaving"));
        QVERIFY(activateAndWait(client.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // When nothing is to have the focus, openbox clears the name first and
        // sends the focus to a window of its own next. The server is held so
        // that the workspace looks in between.
        xcb_connection_t *connection = qtConnection();
        xcb_grab_server(connection);
        setRootWindowList("_NET_ACTIVE_WINDOW", {XCB_WINDOW_NONE});
        bool looked = m_barrier.pass();
        const qsizetype whileFocused = changes.count();
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT,
                            XCB_CURRENT_TIME);
        looked = m_barrier.pass() && looked;
        const qsizetype afterFocusLeft = changes.count();
        xcb_ungrab_server(connection);
        xcb_flush(connection);
        QVERIFY(looked);
        QCOMPARE(whileFocused, 0);
        QCOMPARE(afterFocusLeft, 1);
    }

    void reportsFullScreenAndResize()
    {
        const Client &client = startClient(QStringLiteral("resized"));
        QVERIFY(activateAndWait(client.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        QVERIFY(changeState(client.window, QStringLiteral("add,fullscreen")));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindowFrame(), kScreen, kTimeout);
        QVERIFY(m_barrier.pass());
        changes.clear();

        QVERIFY(changeState(client.window, QStringLiteral("remove,fullscreen")));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(m_workspace->activeWindowFrame() != kScreen, kTimeout);
        QVERIFY(m_barrier.pass());
        changes.clear();

        const QSize before = m_workspace->activeWindowFrame()->size();
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("windowsize"), QString::number(client.window),
                         QStringLiteral("400"), QStringLiteral("300")}));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QVERIFY(m_workspace->activeWindowFrame()->size() != before);
    }

    void keepsWatchingWhenAnotherInstanceGoes()
    {
        const Client &client = startClient(QStringLiteral("shared"));
        QVERIFY(activateAndWait(client.window));
        auto other = std::make_unique<X11Workspace>();
        QVERIFY(m_barrier.pass());
        other.reset();
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("windowsize"), QString::number(client.window),
                         QStringLiteral("500"), QStringLiteral("320")}));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void watchesNewWindowWithReusedID()
    {
        // The server hands a freed window ID to the next client's window:
        // the focused window named at the start is gone, and a new window
        // with its ID comes to the front.
        Client &gone = startClient(QStringLiteral("reused"));
        const quint32 id = gone.window;
        gone.process->terminate();
        QVERIFY(gone.process->waitForFinished(kTimeout));
        // openbox leaves the dead window named as focused; made sure of here.
        setRootWindowList("_NET_ACTIVE_WINDOW", {id});
        m_workspace = std::make_unique<X11Workspace>();

        // Each client takes the lowest free slot, and with it the ID base;
        // clients that get other slots are kept so that they hold them.
        const Client *next = nullptr;
        for (int attempt = 0; attempt < 5 && !next; ++attempt) {
            const Client &candidate = startClient(QStringLiteral("reused-%1").arg(attempt));
            if (candidate.window == id)
                next = &candidate;
        }
        if (!next)
            QSKIP("the X server did not hand the window ID out again");
        QVERIFY(activateAndWait(next->window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("windowsize"), QString::number(next->window),
                         QStringLiteral("420"), QStringLiteral("310")}));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void ignoresUnrelatedChanges()
    {
        const Client &a = startClient(QStringLiteral("quiet-a"));
        const Client &b = startClient(QStringLiteral("quiet-b"));
        // One more window of b's process, the same size as b's.
        Client &sibling = startClient(QStringLiteral("quiet-c"), false);
        QVERIFY(setCardinal(hex(sibling.window), QStringLiteral("_NET_WM_PID"), b.pid));
        QCOMPARE(decorationFrame(sibling.window).size(), decorationFrame(b.window).size());

        QVERIFY(activateAndWait(a.window));
        QVERIFY(activateAndWait(b.window));
        QVERIFY(m_barrier.pass());
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // A window that was focused before, and the focused window's title.
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("set_window"), QStringLiteral("--name"),
                         QStringLiteral("renamed"), QString::number(a.window)}));
        QVERIFY(setCardinal(hex(a.window), QStringLiteral("_NET_WM_PID"), 1));
        QVERIFY(changeState(a.window, QStringLiteral("add,above")));
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("set_window"), QStringLiteral("--name"),
                         QStringLiteral("renamed too"), QString::number(b.window)}));
        QVERIFY(setCardinal({}, QStringLiteral("_LUMIVALE_UNRELATED"), 7));
        // Another window of the same process, of the same size.
        QVERIFY(activateAndWait(sibling.window));
        QVERIFY(m_barrier.pass());
        QCOMPARE(changes.count(), 0);

        // The check still sees what matters.
        QVERIFY(activate(a.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void mapsNativePixelsLikeQt()
    {
        // A screen at twice the scale and one at the normal scale to its right
        // (Qt keeps each screen's top left corner at its native position).
        const QList<X11Workspace::ScreenScale> screens{{QRect(0, 0, 1920, 1080), 2},
                                                       {QRect(3840, 0, 1920, 1080), 1}};
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(0, 0, 3840, 2160), screens),
                 QRect(0, 0, 1920, 1080));
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(200, 100, 400, 300), screens),
                 QRect(100, 50, 200, 150));
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(3840, 0, 1920, 1080), screens),
                 QRect(3840, 0, 1920, 1080));
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(4000, 10, 300, 200), screens),
                 QRect(4000, 10, 300, 200));
        // Off every screen: the first screen's scale.
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(-400, -400, 200, 200), screens),
                 QRect(-200, -200, 100, 100));
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(1, 2, 3, 4), {}), QRect(1, 2, 3, 4));
    }

    // Last: the window manager is gone afterwards.
    void listAbsentWithoutWindowManager()
    {
        const Client &client = startClient(QStringLiteral("unmanaged"));
        session->stopWindowManager();
        // Whatever openbox left behind is removed by hand.
        const auto removeFromRoot = [](const QString &property) {
            return runTool(QStringLiteral("xprop"),
                           {QStringLiteral("-root"), QStringLiteral("-remove"), property});
        };
        QVERIFY(removeFromRoot(QStringLiteral("_NET_CLIENT_LIST_STACKING")));
        QVERIFY(setCardinal({}, QStringLiteral("_NET_CURRENT_DESKTOP"), 0));
        // The mapping-order list alone still names the windows.
        setRootWindowList("_NET_CLIENT_LIST", {client.window});
        QTRY_VERIFY_WITH_TIMEOUT(describe(client.pid).has_value(), kTimeout);

        QVERIFY(removeFromRoot(QStringLiteral("_NET_CLIENT_LIST")));
        QVERIFY(removeFromRoot(QStringLiteral("_NET_ACTIVE_WINDOW")));
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->windowsFrontToBack(), std::nullopt, kTimeout);
        QCOMPARE(m_workspace->activeWindowFrame(), std::nullopt);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11Workspace, 1280, 720)
#include "tst_x11workspace.moc"
