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

// Runs a tool's command line, split at spaces, where %X and %D stand for
// `window` in hex and in decimal, and %B for `other` in hex.
bool tool(QString command, quint32 window = 0, quint32 other = 0)
{
    command.replace(u"%X"_s, hex(window)).replace(u"%D"_s, QString::number(window));
    QStringList words = command.replace(u"%B"_s, hex(other)).split(u' ');
    return XSession::succeeds(words.takeFirst(), words);
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

// Sets a property of 32-bit values on a window (0: the root window), and
// waits until the server has it.
void setWindowProperty(xcb_window_t window, const char *name, xcb_atom_t type,
                       QList<quint32> values)
{
    xcb_connection_t *connection = qtConnection();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window ? window : rootWindow(),
                        internAtom(name), type, 32, uint32_t(values.size()), values.constData());
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

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
        if (!m_barrier.roundTrip(
                [] { setWindowProperty(0, "_LUMIVALE_TEST_BARRIER", XCB_ATOM_CARDINAL, {1}); }))
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
            setWindowProperty(client.window, "_NET_WM_PID", XCB_ATOM_CARDINAL,
                              {quint32(client.pid)});
        return client;
    }

    QList<WindowDescription> listedWindows() const
    {
        return m_workspace->windowsFrontToBack().value_or(QList<WindowDescription>{});
    }

    std::optional<WindowDescription> describe(qint64 pid) const
    {
        for (const WindowDescription &window : listedWindows()) {
            if (window.ownerProcessID == pid)
                return window;
        }
        return std::nullopt;
    }

    QList<qint64> frontToBackAmong(const QList<qint64> &pids) const
    {
        QList<qint64> order;
        for (const WindowDescription &window : listedWindows()) {
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
        return tool(u"wmctrl -i -a %X"_s, window) && waitForWindowManager([&] {
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
        for (Client &client : m_clients)
            endProcess(*client.process, kTimeout);
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
    // client changed its properties. The commands, split at ';', name the
    // window as %X (hex) or %D (decimal). Expected, word by word: "no-pid"
    // (none published), "unlisted", "hidden", "elsewhere" (not on the current
    // desktop), and the active frame "own", "screen" or "none" (else unchecked).
    void windowPropertiesReachTheListing_data()
    {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QString() << u"own"_s;
        QTest::newRow("without a PID") << QString() << u"no-pid own"_s;
        QTest::newRow("desktop type") << "xprop -id %X -f _NET_WM_WINDOW_TYPE 32a -set "
                                         "_NET_WM_WINDOW_TYPE _NET_WM_WINDOW_TYPE_DESKTOP"
                                      << u"unlisted"_s;
        QTest::newRow("full screen") << "wmctrl -i -r %X -b add,fullscreen" << u"screen"_s;
        QTest::newRow("full screen and back")
            << "wmctrl -i -r %X -b add,fullscreen;wmctrl -i -r %X -b remove,fullscreen" << u"own"_s;
        // openbox leaves no window focused.
        QTest::newRow("minimised") << "xdotool windowminimize %D" << u"hidden none"_s;
        QTest::newRow("minimised and brought back")
            << "xdotool windowminimize %D;wmctrl -i -a %X" << u"own"_s;
        QTest::newRow("on another desktop") << "wmctrl -i -r %X -t 1" << u"elsewhere"_s;
        QTest::newRow("on the desktop switched to")
            << "wmctrl -i -r %X -t 1;wmctrl -s 1" << QString();
        // openbox ignores wmctrl's sticky.
        QTest::newRow("on every desktop")
            << "wmctrl -i -r %X -t 1;xdotool set_desktop_for_window %D 4294967295" << QString();
    }
    void windowPropertiesReachTheListing()
    {
        QFETCH(QString, commands);
        QFETCH(QString, expected);
        const QStringList words = expected.split(u' ');
        const bool publishPID = !words.contains(u"no-pid"_s);
        const bool listed = !words.contains(u"unlisted"_s);
        const bool hidden = words.contains(u"hidden"_s);
        const bool here = !words.contains(u"elsewhere"_s);
        const bool framed = QStringList{u"own"_s, u"screen"_s, u"none"_s}.contains(words.last());
        const QString activeFrame = framed ? words.last() : QString();
        const Client &client = startClient(QString::fromUtf8(QTest::currentDataTag()), publishPID);
        const QRect decorated = decorationFrame(client.window);
        const auto find = [&]() -> std::optional<WindowDescription> {
            if (publishPID)
                return describe(client.pid);
            for (const WindowDescription &window : listedWindows()) {
                if (window.frame == decorated)
                    return window;
            }
            return std::nullopt;
        };
        QTRY_VERIFY_WITH_TIMEOUT(find().has_value(), kTimeout);
        QVERIFY(activateAndWait(client.window));
        for (const QString &command : commands.split(u';', Qt::SkipEmptyParts))
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

    // A change of the focused window's application, full screen state or
    // size is reported. With the first window focused and every report about
    // it in, `before` runs and settles, and then `command` (%X and %D name the
    // first window, %B a window of a second process). With `anotherInstance`,
    // a second workspace comes and goes first.
    void reportsChangesOfTheFocusedWindow_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("anotherInstance");
        QTest::newRow("another process") << QString() << "wmctrl -i -a %B" << false;
        QTest::newRow("and back") << u"wmctrl -i -a %B"_s << u"wmctrl -i -a %X"_s << false;
        // openbox leaves nothing focused when the only window goes.
        QTest::newRow("no window") << QString() << "xdotool windowminimize %D" << false;
        QTest::newRow("full screen") << QString() << "wmctrl -i -r %X -b add,fullscreen" << false;
        QTest::newRow("full screen left") << "wmctrl -i -r %X -b add,fullscreen"
                                          << "wmctrl -i -r %X -b remove,fullscreen" << false;
        QTest::newRow("resized") << QString() << "xdotool windowsize %D 400 300" << false;
        QTest::newRow("after another instance went")
            << QString() << "xdotool windowsize %D 500 320" << true;
    }
    void reportsChangesOfTheFocusedWindow()
    {
        QFETCH(QString, before);
        QFETCH(QString, command);
        QFETCH(bool, anotherInstance);
        const QString title = QString::fromUtf8(QTest::currentDataTag());
        const Client &first = startClient(title);
        const bool twoProcesses = (before + command).contains(u"%B"_s);
        const quint32 other = twoProcesses ? startClient(title + u" too"_s).window : 0;
        QVERIFY(activateAndSettle(first.window));
        if (!before.isEmpty()) {
            QVERIFY(tool(before, first.window, other));
            QVERIFY(waitForWindowManager([] { return inputFocus() == activeWindow(); }));
            QVERIFY(passBarrier());
        }
        if (anotherInstance) {
            X11Workspace another;
            QVERIFY(passBarrier());
        }
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);
        QVERIFY(tool(command, first.window, other));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void ignoresGapWhileFocusMoves()
    {
        const Client &first = startClient(u"handover-a"_s);
        Client &second = startClient(u"handover-b"_s, false);
        setWindowProperty(second.window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {quint32(first.pid)});
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
        setWindowProperty(0, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {XCB_WINDOW_NONE});
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
        QVERIFY(tool(u"wmctrl -i -a %X"_s, other.window));
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
        setWindowProperty(0, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {XCB_WINDOW_NONE});
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
        setWindowProperty(0, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {id});
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
        setWindowProperty(sibling.window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {quint32(b.pid)});
        QCOMPARE(decorationFrame(sibling.window).size(), decorationFrame(b.window).size());

        QVERIFY(activateAndWait(a.window));
        QVERIFY(activateAndSettle(b.window));
        QSignalSpy changes(m_workspace.get(), &Workspace::activeApplicationChanged);

        // A window that was focused before, and the focused window's title.
        QVERIFY(tool(u"xdotool set_window --name renamed %D"_s, a.window));
        setWindowProperty(a.window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {1});
        QVERIFY(tool(u"wmctrl -i -r %X -b add,above"_s, a.window));
        QVERIFY(tool(u"xdotool set_window --name renamed-too %D"_s, b.window));
        setWindowProperty(0, "_LUMIVALE_UNRELATED", XCB_ATOM_CARDINAL, {7});
        QVERIFY(activateAndSettle(sibling.window));
        QCOMPARE(changes.count(), 0);

        // The check still sees what matters.
        QVERIFY(tool(u"wmctrl -i -a %X"_s, a.window));
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), kTimeout);
    }

    void mapsNativePixelsLikeQt()
    {
        // A screen at twice the scale and one at the normal scale to its right
        // (Qt keeps each screen's top left corner at its native position).
        const QList<X11Workspace::ScreenScale> screens{{QRect(0, 0, 1920, 1080), 2},
                                                       {QRect(3840, 0, 1920, 1080), 1}};
        const auto toDesktop = [&](QRect native) {
            return X11Workspace::toDesktopCoordinates(native, screens);
        };
        QCOMPARE(toDesktop(QRect(0, 0, 3840, 2160)), QRect(0, 0, 1920, 1080));
        QCOMPARE(toDesktop(QRect(200, 100, 400, 300)), QRect(100, 50, 200, 150));
        QCOMPARE(toDesktop(QRect(3840, 0, 1920, 1080)), QRect(3840, 0, 1920, 1080));
        QCOMPARE(toDesktop(QRect(4000, 10, 300, 200)), QRect(4000, 10, 300, 200));
        // Off every screen: the first screen's scale.
        QCOMPARE(toDesktop(QRect(-400, -400, 200, 200)), QRect(-200, -200, 100, 100));
        QCOMPARE(X11Workspace::toDesktopCoordinates(QRect(1, 2, 3, 4), {}), QRect(1, 2, 3, 4));
    }

    // Last: the window manager is gone afterwards.
    void listAbsentWithoutWindowManager()
    {
        const Client &client = startClient(u"unmanaged"_s);
        session->stopWindowManager();
        // Whatever openbox left behind is removed by hand.
        QVERIFY(tool(u"xprop -root -remove _NET_CLIENT_LIST_STACKING"_s));
        setWindowProperty(0, "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, {0});
        // The mapping-order list alone still names the windows.
        setWindowProperty(0, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, {client.window});
        QTRY_VERIFY_WITH_TIMEOUT(describe(client.pid).has_value(), kTimeout);

        QVERIFY(tool(u"xprop -root -remove _NET_CLIENT_LIST"_s));
        QVERIFY(tool(u"xprop -root -remove _NET_ACTIVE_WINDOW"_s));
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->windowsFrontToBack(), std::nullopt, kTimeout);
        QCOMPARE(m_workspace->activeWindowFrame(), std::nullopt);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11Workspace, 1280, 720)
#include "tst_x11workspace.moc"
