#include "mpvcore.h"

#include <QOpenGLContext>
#include <QThreadPool>
#include <clocale>
#include <malloc.h>
#include <mpv/client.h>
#include <mpv/render_gl.h>
#include <vector>

namespace lumivale {
namespace {

enum PropertyReply : uint64_t { EofReached = 1, VoConfigured = 2 };
enum HookReply : uint64_t { Preloaded = 1 };

// The filter that turns a picture by its container's rotation, clockwise.
const char *rotationFilter(int64_t degrees)
{
    switch (degrees) {
    case 90:
        return "lavfi=[transpose=clock]";
    case 180:
        return "lavfi=[hflip,vflip]";
    case 270:
        return "lavfi=[transpose=cclock]";
    default:
        return "";
    }
}

std::atomic_int terminations = 0;
std::atomic_int liveCores = 0;

const char *const kOptions[][2] = {
    {"vo", "libmpv"},
    {"audio", "no"}, // selects no audio track, so no audio output is opened
    {"mute", "yes"},
    {"hwdec", "auto-safe"},
    {"stop-screensaver", "no"},
    {"keep-open", "yes"}, // hold the last frame; the owner loops by seeking
    {"keep-open-pause", "no"},
    {"panscan", "1.0"}, // fill the screen by cropping, never letter-box
    {"idle", "yes"},
    {"pause", "yes"},
    {"video-timing-offset", "0"}, // frames are handed over at their display time
    {"config", "no"},
    // No scripts at all, the built-in ones included: mpv_initialize() waits
    // for every script to load, and a core starts with each hand-over.
    {"load-scripts", "no"},
    {"load-stats-overlay", "no"},
    {"load-osd-console", "no"},
    {"load-auto-profiles", "no"},
    {"osc", "no"},
    // Nothing is ever written over the picture, so the on-screen display
    // needs no fonts (finding them took tens of milliseconds per core).
    {"osd-level", "0"},
    {"osd-font-provider", "none"},
    // No subtitle or audio files looked for beside the video.
    {"autoload-files", "no"},
    {"ytdl", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"terminal", "no"},
    {"cache", "no"},
};

} // namespace

MpvCore *MpvCore::create(QObject *parent)
{
    return createWithOptions({}, parent);
}

MpvCore *
MpvCore::createWithOptions(std::initializer_list<std::pair<const char *, const char *>> options,
                           QObject *parent)
{
    // mpv refuses to start under a numeric locale that is not "C".
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle *mpv = mpv_create();
    if (!mpv)
        return nullptr;
    for (const auto &[name, value] : kOptions)
        mpv_set_option_string(mpv, name, value);
    for (const auto &[name, value] : options)
        mpv_set_option_string(mpv, name, value);
    if (mpv_initialize(mpv) < 0) {
        mpv_terminate_destroy(mpv);
        return nullptr;
    }
    return new MpvCore(mpv, parent);
}

MpvCore::MpvCore(mpv_handle *mpv, QObject *parent)
    : QObject(parent)
    , m_mpv(mpv)
{
    ++liveCores;
    mpv_observe_property(m_mpv, EofReached, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, VoConfigured, "vo-configured", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        m_mpv,
        [](void *context) {
            auto *self = static_cast<MpvCore *>(context);
            if (!self->m_drainQueued.exchange(true))
                QMetaObject::invokeMethod(self, &MpvCore::drainEvents, Qt::QueuedConnection);
        },
        this);
}

MpvCore::~MpvCore()
{
    if (m_mpv) {
        detach();
        mpv_terminate_destroy(std::exchange(m_mpv, nullptr));
        --liveCores;
    }
}

void MpvCore::detach()
{
    // Once this returns, mpv calls the old callback no more.
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
}

void MpvCore::terminateLater()
{
    if (m_mpv) {
        detach();
        ++terminations;
        QThreadPool::globalInstance()->start([mpv = std::exchange(m_mpv, nullptr)] {
            mpv_terminate_destroy(mpv);
            --liveCores;
            // The decoder's frame pools are freed by now; without this the
            // allocator keeps their pages, and a process that once played a
            // large video stays that large.
            malloc_trim(0);
            --terminations;
        });
    }
    deleteLater();
}

int MpvCore::pendingTerminations()
{
    return terminations;
}

int MpvCore::liveCount()
{
    return liveCores;
}

void MpvCore::setPaused(bool paused)
{
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
}

void MpvCore::command(std::initializer_list<const char *> arguments)
{
    std::vector<const char *> list(arguments);
    list.push_back(nullptr);
    mpv_command_async(m_mpv, 0, list.data());
}

double MpvCore::timePosition() const
{
    double seconds = 0;
    if (mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &seconds) < 0)
        return 0;
    return seconds;
}

void MpvCore::turnPicturesInFilters()
{
    mpv_set_property_string(m_mpv, "video-rotate", "no");
    // After the tracks are chosen and before any decoder runs.
    mpv_hook_add(m_mpv, Preloaded, "on_preloaded", 0);
}

void MpvCore::drainEvents()
{
    m_drainQueued = false;
    while (m_mpv) {
        mpv_event *event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        switch (event->event_id) {
        case MPV_EVENT_HOOK: {
            // Tracks are not chosen yet: the first video track is the one
            // mpv will play.
            int64_t count = 0;
            int64_t degrees = 0;
            mpv_get_property(m_mpv, "track-list/count", MPV_FORMAT_INT64, &count);
            for (int64_t i = 0; i < count; ++i) {
                const QByteArray track = "track-list/" + QByteArray::number(i) + '/';
                char *type = mpv_get_property_string(m_mpv, track + "type");
                const bool video = type && qstrcmp(type, "video") == 0;
                mpv_free(type);
                if (video) {
                    mpv_get_property(m_mpv, track + "demux-rotation", MPV_FORMAT_INT64, &degrees);
                    break;
                }
            }
            mpv_set_property_string(m_mpv, "vf", rotationFilter(degrees));
            mpv_hook_continue(m_mpv, static_cast<mpv_event_hook *>(event->data)->id);
            break;
        }
        case MPV_EVENT_FILE_LOADED: {
            m_fileLoaded = true;
            // A still image or cover art is a "video" track to mpv, but no wallpaper.
            char *vid = mpv_get_property_string(m_mpv, "vid");
            int image = 0;
            mpv_get_property(m_mpv, "current-tracks/video/image", MPV_FORMAT_FLAG, &image);
            const bool playable = vid && qstrcmp(vid, "no") != 0 && !image;
            mpv_free(vid);
            Q_EMIT fileLoaded(playable);
            break;
        }
        case MPV_EVENT_END_FILE: {
            const auto *end = static_cast<mpv_event_end_file *>(event->data);
            if (end->reason == MPV_END_FILE_REASON_ERROR ||
                (end->reason == MPV_END_FILE_REASON_EOF && !m_fileLoaded)) {
                if (end->reason == MPV_END_FILE_REASON_ERROR)
                    m_lastError = QString::fromUtf8(mpv_error_string(end->error));
                Q_EMIT loadFailed();
            } else if (end->reason == MPV_END_FILE_REASON_EOF)
                Q_EMIT endReached();
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto *property = static_cast<mpv_event_property *>(event->data);
            if (property->format != MPV_FORMAT_FLAG)
                break;
            const bool value = *static_cast<int *>(property->data) != 0;
            if (event->reply_userdata == EofReached && value) {
                Q_EMIT endReached();
            } else if (event->reply_userdata == VoConfigured) {
                m_voConfigured = value;
                Q_EMIT videoOutputConfiguredChanged(value);
            }
            break;
        }
        default:
            break;
        }
    }
}

mpv_render_context *createOpenGLRenderContext(mpv_handle *mpv)
{
    const auto procAddress = [](void *, const char *name) -> void * {
        QOpenGLContext *context = QOpenGLContext::currentContext();
        return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
    };
    mpv_opengl_init_params glInit{procAddress, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context *context = nullptr;
    return mpv_render_context_create(&context, mpv, params) < 0 ? nullptr : context;
}

} // namespace lumivale
