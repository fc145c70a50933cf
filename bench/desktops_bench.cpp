// Measures how fast the wallpaper window gets back under another program's
// desktop window (desktop icons) after that window lowers itself below it,
// against how fast the window manager itself lists that change. Run it through
// bench/desktops, which sets up the X server, the window manager and a clip.
//
// Usage: lumivale_bench_desktops CLIP.mp4

#include "app/runtime.h"
#include "benchsupport.h"
#include "desktop/wallpapermanager.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

using namespace lumivale;
using namespace lumivale::bench;

namespace {

constexpr int kRounds = 20;
const QRect kProbeArea(600, 320, 80, 80);

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A desktop-type window of its own, as a desktop-icons program has. Times two
// moments: the window manager listing it lowered below ours, and our window
// sitting below it again. Runs on its own thread with its own connection, so
// the event loop of the process under test is left alone.
class ForeignDesktop
{
public:
    struct Round
    {
        double listedMs = -1;    // the window manager's own latency: the reference
        double restackedMs = -1; // ours, counted from the change being listed
    };

    ForeignDesktop()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_stacking = atom("_NET_CLIENT_LIST_STACKING");
        m_type = atom("_NET_WM_WINDOW_TYPE");
        m_desktopType = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
        m_restack = atom("_NET_RESTACK_WINDOW");
    }
    ~ForeignDesktop() { xcb_disconnect(m_connection); }

    // The desktop-type windows listed now, bottom first: ours, before any
    // foreign one exists.
    std::vector<xcb_window_t> desktopWindows()
    {
        std::vector<xcb_window_t> found;
        for (xcb_window_t window : stackingList()) {
            auto cookie = xcb_get_property(m_connection, 0, window, m_type, XCB_ATOM_ATOM, 0, 8);
            xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, nullptr);
            if (!reply)
                continue;
            const auto *types = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
            if (std::find(types, types + count, m_desktopType) != types + count)
                found.push_back(window);
            free(reply);
        }
        return found;
    }

    // Maps the foreign desktop window once; the window manager puts it on
    // top of the desktop layer, above ours, where it belongs.
    bool mapForeign()
    {
        m_foreign = xcb_generate_id(m_connection);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t values[] = {screen->black_pixel};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_foreign, m_root, 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                          values);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_foreign, m_type, XCB_ATOM_ATOM,
                            32, 1, &m_desktopType);
        xcb_map_window(m_connection, m_foreign);
        xcb_flush(m_connection);
        const auto mapped = Clock::now();
        while (msSince(mapped) < 3000) {
            const std::vector<xcb_window_t> list = stackingList();
            if (std::find(list.begin(), list.end(), m_foreign) != list.end())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // The foreign window lowers itself to the bottom of the desktop layer, as
    // a desktop program does when it restarts or restacks; ours must follow.
    Round measure(xcb_window_t ours)
    {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = m_foreign;
        event.type = m_restack;
        event.data.data32[0] = 2; // from a pager
        event.data.data32[1] = XCB_NONE;
        event.data.data32[2] = XCB_STACK_MODE_BELOW;
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(m_connection);
        const auto requested = Clock::now();

        Round round;
        Clock::time_point lowered;
        while (msSince(requested) < 3000) {
            const std::vector<xcb_window_t> list = stackingList();
            const auto foreignAt = std::find(list.begin(), list.end(), m_foreign);
            const auto oursAt = std::find(list.begin(), list.end(), ours);
            if (foreignAt == list.end() || oursAt == list.end())
                break;
            if (round.listedMs < 0 && foreignAt < oursAt) {
                lowered = Clock::now();
                round.listedMs = msSince(requested);
            }
            if (round.listedMs >= 0 && oursAt < foreignAt) {
                round.restackedMs = msSince(lowered);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        return round;
    }

private:
    xcb_atom_t atom(const char *name)
    {
        auto cookie = xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    }

    std::vector<xcb_window_t> stackingList()
    {
        auto cookie =
            xcb_get_property(m_connection, 0, m_root, m_stacking, XCB_ATOM_WINDOW, 0, 4096);
        xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, nullptr);
        std::vector<xcb_window_t> list;
        if (reply) {
            const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(reply));
            list.assign(windows, windows + xcb_get_property_value_length(reply) / 4);
            free(reply);
        }
        return list;
    }

    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    xcb_window_t m_foreign = 0;
    xcb_atom_t m_stacking = 0, m_type = 0, m_desktopType = 0, m_restack = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s CLIP.mp4\n", argv[0]);
        return 2;
    }

    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    WallpaperManager manager(Platform::instance(), defaults);
    manager.apply(QUrl::fromLocalFile(args[1]), QStringLiteral("clip"));
    {
        ScreenProbe probe;
        waitUntil([&] { return !isBlack(probe.meanColor(kProbeArea)); }, 10000);
    }
    spin(1000);

    ForeignDesktop foreign;
    const std::vector<xcb_window_t> ours = foreign.desktopWindows();
    if (ours.empty() || !foreign.mapForeign()) {
        std::fprintf(stderr, "no wallpaper window, or the other desktop window was not listed\n");
        return 1;
    }
    spin(500);

    // The wallpaper keeps playing meanwhile: the watcher shares the main
    // thread with it, as it does for users.
    std::vector<double> listed, restacked;
    int refused = 0;
    std::atomic<bool> done = false;
    std::thread measuring([&] {
        for (int round = 0; round < kRounds; ++round) {
            const ForeignDesktop::Round result = foreign.measure(ours.front());
            if (result.restackedMs < 0) {
                ++refused;
            } else {
                listed.push_back(result.listedMs);
                restacked.push_back(result.restackedMs);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        done = true;
    });
    waitUntil([&] { return done.load(); }, kRounds * 4000);
    measuring.join();

    manager.pauseAll();
    spin(1000);
    const double idle = ownCpuOver(10000);

    const double ourMs = median(restacked), windowManagerMs = median(listed);
    std::printf("restack_ms: %.1f\n", ourMs);
    std::printf("wm_list_ms: %.1f\n", windowManagerMs);
    std::printf("restack_ratio_vs_wm_list: %.2f\n",
                windowManagerMs > 0 ? ourMs / windowManagerMs : -1.0);
    std::printf("restacks_missed: %d\n", refused);
    std::printf("idle_cpu_percent_watching: %.2f\n", idle * 100);
    std::fflush(stdout);
    manager.stop();
    return 0;
}
