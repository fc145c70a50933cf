#include "x11screens.h"

#include "xcbsupport.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

QString atomName(xcb_connection_t *connection, xcb_atom_t atom)
{
    xcb::Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply)
        return {};
    return QString::fromLatin1(xcb_get_atom_name_name(reply.get()),
                               xcb_get_atom_name_name_length(reply.get()));
}

// The raw EDID of the output behind each RandR monitor or output name.
QHash<QString, QByteArray> readEDIDs()
{
    QHash<QString, QByteArray> edids;
    xcb_connection_t *connection = xcb::qtConnection();
    if (!connection)
        return edids;
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;

    xcb::Reply<xcb_intern_atom_reply_t> edidAtom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, 4, "EDID"), nullptr));
    if (!edidAtom || edidAtom->atom == XCB_ATOM_NONE)
        return edids;

    const auto edidOf = [&](xcb_randr_output_t output) {
        xcb::Reply<xcb_randr_get_output_property_reply_t> property(
            xcb_randr_get_output_property_reply(
                connection,
                xcb_randr_get_output_property(connection, output, edidAtom->atom, XCB_ATOM_ANY, 0,
                                              128, false, false),
                nullptr));
        if (!property || property->format != 8)
            return QByteArray();
        return QByteArray(
            reinterpret_cast<const char *>(xcb_randr_get_output_property_data(property.get())),
            xcb_randr_get_output_property_data_length(property.get()));
    };

    xcb::Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            connection, xcb_randr_get_screen_resources_current(connection, root), nullptr));
    if (resources) {
        const xcb_randr_output_t *outputs =
            xcb_randr_get_screen_resources_current_outputs(resources.get());
        const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
        for (int i = 0; i < count; ++i) {
            xcb::Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
                connection,
                xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp),
                nullptr));
            if (!info)
                continue;
            const QString name = QString::fromUtf8(
                reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info.get())),
                xcb_randr_get_output_info_name_length(info.get()));
            edids.insert(name, edidOf(outputs[i]));
        }
    }

    xcb::Reply<xcb_randr_get_monitors_reply_t> monitors(xcb_randr_get_monitors_reply(
        connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
    if (monitors) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const QString name = atomName(connection, it.data->name);
            if (xcb_randr_monitor_info_outputs_length(it.data) > 0 && !edids.contains(name))
                edids.insert(name, edidOf(xcb_randr_monitor_info_outputs(it.data)[0]));
        }
    }
    return edids;
}

} // namespace

X11ScreenSystem::X11ScreenSystem(QObject *parent)
    : ScreenSystem(parent)
{
    const auto changed = [this] {
        refresh();
        Q_EMIT screenParametersChanged();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, changed](QScreen *screen) {
        watch(screen);
        changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, changed);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, changed);
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    refresh();
}

void X11ScreenSystem::watch(QScreen *screen)
{
    const auto changed = [this] {
        refresh();
        Q_EMIT screenParametersChanged();
    };
    connect(screen, &QScreen::geometryChanged, this, changed);
}

QList<Screen> X11ScreenSystem::screens() const
{
    QList<Screen> screens;
    for (const Entry &entry : m_entries)
        screens.append(entry.screen);
    return screens;
}

std::optional<Screen> X11ScreenSystem::mainScreen() const
{
    if (m_entries.isEmpty())
        return std::nullopt;
    return m_entries.first().screen;
}

QScreen *X11ScreenSystem::qscreenFor(const Screen &screen) const
{
    for (const Entry &entry : m_entries) {
        if (entry.screen.name == screen.name)
            return entry.qscreen;
    }
    return nullptr;
}

void X11ScreenSystem::refresh()
{
    // QGuiApplication lists the primary screen first.
    QList<QScreen *> qscreens = QGuiApplication::screens();
    QList<QRect> frames;
    for (QScreen *screen : qscreens)
        frames.append(screen->geometry());

    const QHash<QString, QByteArray> edids = readEDIDs();
    QList<Entry> entries;
    QHash<quint32, int> numberUse;
    QHash<QString, int> nameUse;
    for (int index : separateScreenIndexes(frames)) {
        QScreen *qscreen = qscreens[index];
        const QString connector = qscreen->name();
        const QByteArray edid = edids.value(connector);
        Screen screen;
        screen.number = numberFromEDID(edid);
        QString model = modelFromEDID(edid);
        if (model.isEmpty())
            model = qscreen->model().trimmed();
        screen.name = model.isEmpty() || model == connector ? connector : model + u' ' + connector;
        screen.frame = qscreen->geometry();
        if (screen.number)
            ++numberUse[*screen.number];
        ++nameUse[screen.name];
        entries.append(Entry{screen, qscreen});
    }

    QHash<QString, int> nameSeen;
    for (Entry &entry : entries) {
        if (entry.screen.number && numberUse.value(*entry.screen.number) > 1)
            entry.screen.number.reset();
        // Names must tell screens apart; two outputs that report the same name
        // get a counter.
        if (nameUse.value(entry.screen.name) > 1) {
            const int n = ++nameSeen[entry.screen.name];
            if (n > 1)
                entry.screen.name += QStringLiteral(" (%1)").arg(n);
        }
    }
    m_entries = entries;
}

std::optional<quint32> X11ScreenSystem::numberFromEDID(const QByteArray &edid)
{
    static constexpr unsigned char header[] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    if (edid.size() < 128 || std::memcmp(edid.constData(), header, sizeof header) != 0)
        return std::nullopt;
    // FNV-1a over vendor (2 bytes), product (2) and serial (4): stable across
    // runs and machines, unlike any output ID the X server hands out.
    quint32 hash = 2166136261u;
    for (int i = 8; i < 16; ++i) {
        hash ^= quint8(edid[i]);
        hash *= 16777619u;
    }
    return hash;
}

QString X11ScreenSystem::modelFromEDID(const QByteArray &edid)
{
    if (edid.size() < 128)
        return {};
    for (int offset = 54; offset <= 108; offset += 18) {
        const auto *block = reinterpret_cast<const quint8 *>(edid.constData() + offset);
        if (block[0] == 0 && block[1] == 0 && block[2] == 0 && block[3] == 0xfc) {
            QByteArray text(reinterpret_cast<const char *>(block + 5), 13);
            if (const int end = text.indexOf('\n'); end >= 0)
                text.truncate(end);
            return QString::fromLatin1(text).trimmed();
        }
    }
    return {};
}

QList<int> X11ScreenSystem::separateScreenIndexes(const QList<QRect> &frames)
{
    QList<int> kept;
    for (int i = 0; i < frames.size(); ++i) {
        bool covers = false;
        for (int j = 0; j < frames.size() && !covers; ++j) {
            if (i == j || !frames[i].contains(frames[j]))
                continue;
            // A strictly larger frame covers others; of identical frames the
            // first one stays.
            covers = frames[i] != frames[j] || j < i;
        }
        if (!covers)
            kept.append(i);
    }
    return kept;
}

} // namespace lumivale
