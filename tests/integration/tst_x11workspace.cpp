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
using namespace Qt::StringLiterals;

namespace {

// The machine is slow and shared: every wait is generous.
constexpr int kTimeout = 20000;
const QRect kScreen(0, 0, 1280, 720);

QString hex(quint32 window)
{
    return u"0x%1"_s.arg(window, 0, 16);
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

// Runs a tool's command line, split at spaces, where %X and %D stand for
// `window` in hex and in decimal.
bool tool(QString command, quint32 window = 0)
{
    command.replace(u"%X"_s, hex(window)).replace(u"%D"_s, QString::number(window));
    QStringList words = command.split(u' ');
    return runTool(words.takeFirst(), words);
}

bool activate(quint32 window)
{
    return tool(u"wmctrl -i -a %X"_s, window);
}

bool setCardinal(const QString &target, const QString &property, qint64 value)
{
    QStringList arguments =
        target.isEmpty() ? QStringList{u"-root"_s} : QStringList{u"-id"_s, target};
    arguments << u"-f"_s << property << u"32c"_s << u"-set"_s << property << QString::number(value);
    return runTool(u"xprop"_s, arguments);
}

quint32 activeWindow()
{
    const QString text = XSession::run(u"xprop"_s, {u"-root"_s, u"_NET_ACTIVE_WINDOW"_s});
    const qsizetype hash = text.indexOf(u'#');
    return hash < 0 ? 0 : text.mid(hash + 1).trimmed().toUInt(nullptr, 16);
}

int xwininfoField(const QString &text, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) + u":\\s*(-?\\d+)"_s);
    return pattern.match(text).captured(1).toInt();
}

// Where the window manager's frame around a client lies on the screen, read
// from the frame window itself (openbox reparents each client into it).
QRect decorationFrame(quint32 window)
{
    const QString tree = XSession::run(u"xwininfo"_s, {u"-id"_s, hex(window), u"-tree"_s});
    const QString parent =
        QRegularExpression(u"Parent window id: (0x[0-9a-f]+)"_s).match(tree).captured(1);
    const QString info = XSession::run(u"xwininfo"_s, {u"-id"_s, parent});
    return QRect(xwininfoField(info, u"Absolute upper-left X"_s),
                 xwininfoField(info, u"Absolute upper-left Y"_s), xwininfoField(info, u"Width"_s),
                 xwininfoField(info, u"Height"_s));
}

xcb_connection_t *qtConnection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(qtConnection())).data->root;
}

xcb_atom_t internAtom(const char *name)
{
    xcb_connection_t *connection = qtConnection();
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void setRootWindowList(const char *name, const QList<quint32> &windows)
{
    xcb_connection_t *connection = qtConnection();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, rootWindow(), internAtom(name),
                        XCB_ATOM_WINDOW, 32, uint32_t(windows.size()), windows.constData());
    xcb_flush(connection);
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

// Counts the changes of one property of one window that reach the
// application, so that a test can wait for the answer to what it sent.
class PropertyWatch : public QAbstractNativeEventFilter
{
public:
    PropertyWatch(xcb_window_t window, xcb_atom_t atom)
        : m_window(window)
        , m_atom(atom)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~PropertyWatch() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    // Sends, and waits for one more change than were awaited before.
    bool roundTrip(const std::function<void()> &send)
    {
        const int expected = ++m_sent;
        send();
        xcb_flush(qtConnection());
        return waitUntil([&] { return m_seen >= expected; }, kTimeout);
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if (type != "xcb_generic_event_t" || (event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (change->window == m_window && change->atom == m_atom)
            ++m_seen;
        return false;
    }

private:
    xcb_window_t m_window;
    xcb_atom_t m_atom;
    int m_sent = 0;
    int m_seen = 0;
};

// A window that is never mapped, so never managed.
xcb_window_t makeHiddenWindow()
{
    xcb_connection_t *connection = qtConnection();
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, rootWindow(), -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    return window;
}

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
    PropertyWatch m_barrier{rootWindow(), internAtom("_LUMIVALE_TEST_BARRIER")};
    const xcb_window_t m_unmanaged = makeHiddenWindow();
    PropertyWatch m_frameExtents{m_unmanaged, internAtom("_NET_FRAME_EXTENTS")};

    // Lets every X event caused so far reach the application, and every
    // check those events queued run: a property set on the root window after
    // them comes back after them.
    bool passBarrier()
    {
        const quint32 value = 1;
        if (!m_barrier.roundTrip([&] {
                xcb_change_property(qtConnection(), XCB_PROP_MODE_REPLACE, rootWindow(),
                                    internAtom("_LUMIVALE_TEST_BARRIER"), XCB_ATOM_CARDINAL, 32, 1,
                                    &value);
            }))
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return true;
    }

    // A round trip through the window manager: openbox handles the events
    // that reach it in order, so once it has answered a request sent now, it
    // has handled every request made of it before (activations, new windows
    // to focus). The request asks for the frame extents of a window it does
    // not manage, which it answers by setting _NET_FRAME_EXTENTS on it.
    bool passWindowManager()
    {
        return m_frameExtents.roundTrip([&] {
            xcb_client_message_event_t request{};
            request.response_type = XCB_CLIENT_MESSAGE;
            request.format = 32;
            request.window = m_unmanaged;
            request.type = internAtom("_NET_REQUEST_FRAME_EXTENTS");
            xcb_send_event(qtConnection(), 0, rootWindow(),
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char *>(&request));
        });
    }

    // An xmessage window of a process of its own, managed by the window
    // manager. Xt does not publish _NET_WM_PID, so unless told otherwise the
    // test publishes the real one the way toolkits do.
    Client &startClient(const QString &title, bool publishPID = true)
    {
        Client &client = m_clients.emplace_back();
        client.process = std::make_unique<QProcess>();
        client.process->setStandardErrorFile(QProcess::nullDevice());
        client.process->start(u"xmessage"_s, {u"-title"_s, title, u"Same text"_s});
        if (!client.process->waitForStarted(kTimeout))
            return client;
        client.pid = client.process->processId();
        waitUntil(
            [&] {
                const QString found =
                    XSession::run(u"xdotool"_s, {u"search"_s, u"--name"_s, u'^' + title + u'$'});
                client.window = found.section(u'\n', 0, 0).toUInt();
                return client.window != 0;
            },
            kTimeout);
        // Managed once the window manager has given it decorations.
        waitUntil(
            [&] {
                return XSession::run(u"xprop"_s,
                                     {u"-id"_s, hex(client.window), u"_NET_FRAME_EXTENTS"_s})
                    .contains(u'=');
            },
            kTimeout);
        // openbox decorates a window before it shows it, in one go: shown
        // once it has answered a request made after.
        waitForWindowManager([] { return true; });
        if (publishPID)
            setCardinal(hex(client.window), u"_NET_WM_PID"_s, client.pid);
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
            if (deadline.hasExpired() || !passWindowManager())
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

    // Activated, and every report of the workspace about it is in.
    bool activateAndSettle(quint32 window) { return activateAndWait(window) && passBarrier(); }

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
        tool(u"wmctrl -s 0"_s);
    }

    void listsWindowsFrontToBack()
    {
        const Client &a = startClient(u"order-a"_s);
        const Client &b = startClient(u"order-b"_s);
        const Client &c = startClient(u"order-c"_s);
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

    // What the listing says of a window after the window manager or a
    // client changed its properties. Commands name the window as %X (hex) or
    // %D (decimal); the active frame is "" (not checked), "own", "screen" or
    // "none".
    void windowPropertiesReachTheListing_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("publishPID");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("here");
        QTest::addColumn<QString>("activeFrame");
        QTest::newRow("plain") << QStringList() << true << true << false << true << "own";
        QTest::newRow("without a PID") << QStringList() << false << true << false << true << "own";
        QTest::newRow("desktop type")
            << QStringList{u"xprop -id %X -f _NET_WM_WINDOW_TYPE 32a -set _NET_WM_WINDOW_TYPE "
                           "_NET_WM_WINDOW_TYPE_DESKTOP"_s}
            << true << false << false << true << "";
        QTest::newRow("full screen") << QStringList{u"wmctrl -i -r %X -b add,fullscreen"_s} << true
                                     << true << false << true << "screen";
        QTest::newRow("full screen and back")
            << QStringList{u"wmctrl -i -r %X -b add,fullscreen"_s,
                           u"wmctrl -i -r %X -b remove,fullscreen"_s}
            << true << true << false << true << "own";
        // openbox leaves no window focused.
        QTest::newRow("minimised") << QStringList{u"xdotool windowminimize %D"_s} << true << true
                                   << true << true << "none";
        QTest::newRow("minimised and brought back")
            << QStringList{u"xdotool windowminimize %D"_s, u"wmctrl -i -a %X"_s} << true << true
            << false << true << "own";
        QTest::newRow("on another desktop")
            << QStringList{u"wmctrl -i -r %X -t 1"_s} << true << true << false << false << "";
        QTest::newRow("on the desktop switched to")
            << QStringList{u"wmctrl -i -r %X -t 1"_s, u"wmctrl -s 1"_s} << true << true << false
            << true << "";
        // openbox ignores wmctrl's sticky.
        QTest::newRow("on every desktop")
            << QStringList{u"wmctrl -i -r %X -t 1"_s,
                           u"xdotool set_desktop_for_window %D 4294967295"_s}
            << true << true << false << true << "";
    }
    void windowPropertiesReachTheListing()
    {
        QFETCH(QStringList, commands);
        QFETCH(bool, publishPID);
        QFETCH(bool, listed);
        QFETCH(bool, hidden);
        QFETCH(bool, here);
        QFETCH(QString, activeFrame);
        const Client &client = startClient(QString::fromUtf8(QTest::currentDataTag()), publishPID);
        const QRect decorated = decorationFrame(client.window);
        const auto find = [&]() -> std::optional<WindowDescription> {
            if (publishPID)
                return describe(client.pid);
            for (const auto &window :
                 m_workspace->windowsFrontToBack().value_or(QList<WindowDescription>{})) {
                if (window.frame == decorated)
                    return window;
            }
            return std::nullopt;
        };
        QTRY_VERIFY_WITH_TIMEOUT(find().has_value(), kTimeout);
        QVERIFY(activateAndWait(client.window));
        for (const QString &command : commands)
            QVERIFY(tool(command, client.window));
        const QRect frame = activeFrame == u"screen" ? kScreen : decorated;
        const auto matches = [&] {
            const auto window = find();
            if (!window)
                return !listed;
            // Of a window on another desktop, only that is said for sure.
            return listed && window->isOnCurrentWorkspace == here &&
                   (!here || (window->isHidden == hidden && window->frame == frame)) &&
                   window->ownerProcessID ==
                       (publishPID ? std::optional(client.pid) : std::nullopt);
        };
        QTRY_VERIFY_WITH_TIMEOUT(matches(), kTimeout);
        if (activeFrame == u"none")
            QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindowFrame(), std::nullopt, kTimeout);
        else if (!activeFrame.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindowFrame(), frame, kTimeout);
        if (activeFrame == u"own") {
            // The frame is the decorated one, larger than the client itself.
            const QString info = XSession::run(u"xwininfo"_s, {u"-id"_s, hex(client.window)});
            QVERIFY(frame.height() > xwininfoField(info, u"Height"_s));
        }
    }

    void ownWindowCarriesOwnPID()
    {
        QWidget widget;
        widget.setWindowTitle(u"own window"_s);
        widget.resize(320, 200);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget, kTimeout));
        const qint64 ownPID = QCoreApplication::applicationPid();
        QTRY_VERIFY_WITH_TIMEOUT(describe(ownPID).has_value(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(frameOf(ownPID), decorationFrame(quint32(widget.winId())),
                                  kTimeout);
    }

    void reportsActivationOfAnotherProcess()
    {
        const Client &a = startClient(u"switch-a"_s);
        const Client &b = startClient(u"switch-b"_s);
        QVERIFY(activateAndSettle(a.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        QVERIFY(activate(b.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QVERIFY(passBarrier());
        changes.clear();
        QVERIFY(activate(a.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void reportsWhenNoWindowIsFocused()
    {
        const Client &client = startClient(u"last-one"_s);
        QVERIFY(activateAndSettle(client.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // openbox leaves nothing focused when the only window goes.
        QVERIFY(tool(u"xdotool windowminimize %D"_s, client.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), quint32(0), kTimeout);
        QCOMPARE(m_workspace->activeWindowFrame(), std::nullopt);
    }

    void ignoresGapWhileFocusMoves()
    {
        const Client &first = startClient(u"handover-a"_s);
        Client &second = startClient(u"handover-b"_s, false);
        QVERIFY(setCardinal(hex(second.window), u"_NET_WM_PID"_s, first.pid));
        const Client &other = startClient(u"handover-c"_s);
        QVERIFY(activateAndSettle(first.window));
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
        const bool looked = passBarrier();
        xcb_ungrab_server(connection);
        xcb_flush(connection);
        QVERIFY(looked);
        QCOMPARE(changes.count(), 0);

        // openbox sees the focus arrive and names the window: the same
        // process as before.
        QVERIFY(waitForWindowManager([&] { return activeWindow() == second.window; }));
        QVERIFY(passBarrier());
        QCOMPARE(changes.count(), 0);

        // A window of another process after the gap is still news.
        QVERIFY(activate(other.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void reportsFocusLeavingForNoWindow()
    {
        const Client &client = startClient(u"leaving"_s);
        QVERIFY(activateAndSettle(client.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // When nothing is to have the focus, openbox clears the name first and
        // sends the focus to a window of its own next. The server is held so
        // that the workspace looks in between.
        xcb_connection_t *connection = qtConnection();
        xcb_grab_server(connection);
        setRootWindowList("_NET_ACTIVE_WINDOW", {XCB_WINDOW_NONE});
        bool looked = passBarrier();
        const qsizetype whileFocused = changes.count();
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT,
                            XCB_CURRENT_TIME);
        looked = passBarrier() && looked;
        const qsizetype afterFocusLeft = changes.count();
        xcb_ungrab_server(connection);
        xcb_flush(connection);
        QVERIFY(looked);
        QCOMPARE(whileFocused, 0);
        QCOMPARE(afterFocusLeft, 1);
    }

    void reportsFullScreenAndResize()
    {
        const Client &client = startClient(u"resized"_s);
        QVERIFY(activateAndSettle(client.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        QVERIFY(tool(u"wmctrl -i -r %X -b add,fullscreen"_s, client.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindowFrame(), kScreen, kTimeout);
        QVERIFY(passBarrier());
        changes.clear();

        QVERIFY(tool(u"wmctrl -i -r %X -b remove,fullscreen"_s, client.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(m_workspace->activeWindowFrame() != kScreen, kTimeout);
        QVERIFY(passBarrier());
        changes.clear();

        const QSize before = m_workspace->activeWindowFrame()->size();
        QVERIFY(tool(u"xdotool windowsize %D 400 300"_s, client.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
        QVERIFY(m_workspace->activeWindowFrame()->size() != before);
    }

    void keepsWatchingWhenAnotherInstanceGoes()
    {
        const Client &client = startClient(u"shared"_s);
        QVERIFY(activateAndWait(client.window));
        auto other = std::make_unique<X11Workspace>();
        QVERIFY(passBarrier());
        other.reset();
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);
        QVERIFY(tool(u"xdotool windowsize %D 500 320"_s, client.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void watchesNewWindowWithReusedID()
    {
        // The server hands a freed window ID to the next client's window:
        // the focused window named at the start is gone, and a new window
        // with its ID comes to the front.
        Client &gone = startClient(u"reused"_s);
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
            const Client &candidate = startClient(u"reused-%1"_s.arg(attempt));
            if (candidate.window == id)
                next = &candidate;
        }
        if (!next)
            QSKIP("the X server did not hand the window ID out again");
        QVERIFY(activateAndSettle(next->window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);
        QVERIFY(tool(u"xdotool windowsize %D 420 310"_s, next->window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void ignoresUnrelatedChanges()
    {
        const Client &a = startClient(u"quiet-a"_s);
        const Client &b = startClient(u"quiet-b"_s);
        // One more window of b's process, the same size as b's.
        Client &sibling = startClient(u"quiet-c"_s, false);
        QVERIFY(setCardinal(hex(sibling.window), u"_NET_WM_PID"_s, b.pid));
        QCOMPARE(decorationFrame(sibling.window).size(), decorationFrame(b.window).size());

        QVERIFY(activateAndWait(a.window));
        QVERIFY(activateAndSettle(b.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // A window that was focused before, and the focused window's title.
        QVERIFY(tool(u"xdotool set_window --name renamed %D"_s, a.window));
        QVERIFY(setCardinal(hex(a.window), u"_NET_WM_PID"_s, 1));
        QVERIFY(tool(u"wmctrl -i -r %X -b add,above"_s, a.window));
        QVERIFY(runTool(u"xdotool"_s, {u"set_window"_s, u"--name"_s, u"renamed too"_s,
                                       QString::number(b.window)}));
        QVERIFY(setCardinal({}, u"_LUMIVALE_UNRELATED"_s, 7));
        // Another window of the same process, of the same size.
        QVERIFY(activateAndSettle(sibling.window));
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
        const Client &client = startClient(u"unmanaged"_s);
        session->stopWindowManager();
        // Whatever openbox left behind is removed by hand.
        const auto removeFromRoot = [](const QString &property) {
            return runTool(u"xprop"_s, {u"-root"_s, u"-remove"_s, property});
        };
        QVERIFY(removeFromRoot(u"_NET_CLIENT_LIST_STACKING"_s));
        QVERIFY(setCardinal({}, u"_NET_CURRENT_DESKTOP"_s, 0));
        // The mapping-order list alone still names the windows.
        setRootWindowList("_NET_CLIENT_LIST", {client.window});
        QTRY_VERIFY_WITH_TIMEOUT(describe(client.pid).has_value(), kTimeout);

        QVERIFY(removeFromRoot(u"_NET_CLIENT_LIST"_s));
        QVERIFY(removeFromRoot(u"_NET_ACTIVE_WINDOW"_s));
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->windowsFrontToBack(), std::nullopt, kTimeout);
        QCOMPARE(m_workspace->activeWindowFrame(), std::nullopt);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11Workspace, 1280, 720)
#include "tst_x11workspace.moc"
