#include "app/appdelegate.h"
#include "app/shellcommands.h"
#include "app/singleinstance.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFuture>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

using namespace lumivale;
using namespace lumivale::fake;
using namespace lumivale::test;
using Action = CommandLine::Action;

namespace {

CommandLine command(Action action)
{
    CommandLine line;
    line.action = action;
    return line;
}

// Sends from another thread, as another process would, while this thread
// serves.
CommandReply sendAndServe(const SingleInstance &client, const CommandLine &line,
                          int connectTimeoutMs = 5000)
{
    QFuture<CommandReply> reply = QtConcurrent::run(
        [&client, line, connectTimeoutMs] { return client.send(line, connectTimeoutMs, 20000); });
    if (!QTest::qWaitFor([&] { return reply.isFinished(); }, 30000))
        qFatal("no answer");
    return reply.result();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_runtime;

private Q_SLOTS:
    void onlyTheFirstBecomesTheInstance()
    {
        SingleInstance first(m_runtime.path());
        QCOMPARE(*first.lock(), true);
        QCOMPARE(errorOf(first.listen()), std::nullopt);
        QVERIFY(first.isListening());
        SingleInstance second(m_runtime.path());
        QCOMPARE(*second.lock(), false);

        QList<CommandLine> received;
        first.setHandler([&received](CommandLine line) -> QCoro::Task<CommandReply> {
            received.append(line);
            co_return QStringLiteral("done\n");
        });
        CommandLine apply = command(Action::Apply);
        apply.applyTarget = QStringLiteral("/v/red.mp4");
        apply.screenIDs = {QStringLiteral("101")};
        const CommandReply reply = sendAndServe(second, apply);
        QCOMPARE(reply.value_or(QString()), QStringLiteral("done\n"));
        QCOMPARE(errorOf(reply), std::nullopt);
        QCOMPARE(received, QList<CommandLine>{apply});
    }

    void failuresTravelWithTheirDescription()
    {
        SingleInstance first(m_runtime.path());
        QVERIFY(*first.lock());
        QVERIFY(first.listen());
        first.setHandler([](CommandLine) -> QCoro::Task<CommandReply> {
            co_return failure(Error(QStringLiteral("VideoCache"), 404,
                                    QStringLiteral("Video download failed with HTTP 404")));
        });
        SingleInstance second(m_runtime.path());
        const CommandReply reply = sendAndServe(second, command(Action::Pause));
        QVERIFY(!reply);
        QCOMPARE(reply.error().domain(), QStringLiteral("VideoCache"));
        QCOMPARE(reply.error().code(), 404);
        QCOMPARE(reply.error().description(),
                 QStringLiteral("Video download failed with HTTP 404"));
    }

    void garbageGetsAnErrorAndLosesNothing()
    {
        SingleInstance first(m_runtime.path());
        QVERIFY(*first.lock());
        QVERIFY(first.listen());
        int handled = 0;
        first.setHandler([&handled](CommandLine) -> QCoro::Task<CommandReply> {
            ++handled;
            co_return CommandReply{};
        });
        QFuture<QByteArray> answer = QtConcurrent::run([path = first.socketPath()] {
            QLocalSocket socket;
            socket.connectToServer(path);
            if (!socket.waitForConnected(5000))
                return QByteArray("no connection");
            socket.write("{\"command\":\"rm -rf\"}\nmore");
            socket.flush();
            QByteArray line;
            while (!line.contains('\n') && socket.waitForReadyRead(10000))
                line += socket.readAll();
            return line;
        });
        QVERIFY(QTest::qWaitFor([&] { return answer.isFinished(); }, 30000));
        QVERIFY2(answer.result().contains("\"ok\":false"), answer.result().constData());
        QVERIFY(answer.result().contains("Not a command"));
        QCOMPARE(handled, 0);
        // The instance still serves.
        SingleInstance second(m_runtime.path());
        QVERIFY(sendAndServe(second, command(Action::Pause)));
        QCOMPARE(handled, 1);
    }

    void aSilentInstanceIsReportedNotAwaitedForever()
    {
        SingleInstance first(m_runtime.path());
        QVERIFY(*first.lock()); // locked, never listening
        SingleInstance second(m_runtime.path());
        const CommandReply reply = sendAndServe(second, command(Action::Status), 300);
        QVERIFY(!reply);
        QVERIFY(
            reply.error().description().startsWith(QStringLiteral("No running Lumivale answers")));
    }

    void aLeftoverSocketFileIsReplaced()
    {
        QFile leftover(QDir(m_runtime.path()).filePath(QStringLiteral("lumivale.socket")));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance first(m_runtime.path());
        QVERIFY(*first.lock());
        QCOMPARE(errorOf(first.listen()), std::nullopt);
    }

    // ---- The commands, in the instance -------------------------------------------

    void commandsActOnTheRunningApplication()
    {
        QTemporaryDir dir;
        FakePlatform platform;
        const Screen screen{QStringLiteral("Main"), 101, QRect(0, 0, 1920, 1080)};
        platform.screens().setScreens({screen});
        UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
        WallpaperManager manager(platform, defaults);
        VideoCache cache(dir.filePath(QStringLiteral("cache")));
        VideoCacheState cacheState(cache);
        AppDelegate::Environment env;
        env.platform = &platform;
        env.defaults = &defaults;
        env.manager = &manager;
        env.cache = &cache;
        env.cacheState = &cacheState;
        env.applicationWindows = [] { return QList<QWindow *>(); };
        int exits = 0;
        env.exitApplication = [&exits] { ++exits; };
        env.makesStatusItem = false;
        AppDelegate delegate(std::move(env), false);
        ShellCommands commands(delegate);

        CommandLine apply = command(Action::Apply);
        apply.applyTarget = mediaPath(QStringLiteral("red"));
        CommandReply reply = QCoro::waitFor(commands.run(apply));
        QVERIFY2(!reply.error, qPrintable(reply.error ? reply.error().description() : QString()));
        QCOMPARE(manager.currentWallpaperID(), QStringLiteral("red"));
        // The lock-screen still was made and set, as the gallery's apply does.
        QVERIFY(platform.desktopPictures()
                    .picture(screen.name)
                    ->url.fileName()
                    .startsWith(QStringLiteral("LockScreenFallback-")));
        for (FakeVideoPlayer *player : platform.liveSurfaces()[0]->layers())
            player->reportStatus(VideoPlayer::ItemStatus::ReadyToPlay);
        QCoreApplication::processEvents();

        reply = QCoro::waitFor(commands.run(command(Action::Pause)));
        QVERIFY(!manager.isPlaying());
        reply = QCoro::waitFor(commands.run(command(Action::Status)));
        QCOMPARE(reply.value_or(QString()),
                 QStringLiteral("wallpaper: red\nscreens: 101\nplayback: paused\n"
                                "cache: 0 bytes (0 videos)\n"));
        reply = QCoro::waitFor(commands.run(command(Action::TogglePause)));
        QCOMPARE(reply.value_or(QString()), QStringLiteral("playing\n"));

        CommandLine missing = command(Action::Apply);
        missing.applyTarget = QStringLiteral("../../etc/passwd-ish/");
        reply = QCoro::waitFor(commands.run(missing));
        QVERIFY(!reply);
        QVERIFY(
            reply.error().description().startsWith(QStringLiteral("No such file or wallpaper")));
        QCOMPARE(manager.currentWallpaperID(), QStringLiteral("red"));

        // Clearing a cache folder that is gone is an error for the caller, not an alert.
        QVERIFY(QDir(cache.cacheDirectory()).removeRecursively());
        reply = QCoro::waitFor(commands.run(command(Action::ClearCache)));
        QVERIFY(!reply);
        QVERIFY(platform.prompts().alerts().isEmpty());

        reply = QCoro::waitFor(commands.run(command(Action::ListScreens)));
        QCOMPARE(reply.value_or(QString()), QStringLiteral("101\tMain\t1920x1080+0+0\n"));

        reply = QCoro::waitFor(commands.run(command(Action::Stop)));
        QVERIFY(!manager.currentVideoURL());

        // The autostart entry reaching a running instance shows nothing.
        CommandLine loginItem = command(Action::Reopen);
        loginItem.launchedAsLoginItem = true;
        QCoro::waitFor(commands.run(*CommandLine::fromJson(loginItem.toJson())));
        QCOMPARE(platform.prompts().activations(), 0);

        reply = QCoro::waitFor(commands.run(command(Action::Quit)));
        QCOMPARE(errorOf(reply), std::nullopt);
        QCOMPARE(exits, 1);
        QVERIFY(delegate.isReadyToTerminate());
        // Once quitting, nothing more is taken.
        reply = QCoro::waitFor(commands.run(command(Action::Status)));
        QVERIFY(!reply);
        QCOMPARE(reply.error().description(), QStringLiteral("Lumivale is quitting"));
    }

    void statusWithoutAnInstanceTellsWhatWouldBeRestored()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("d.json")));
        VideoCache cache(dir.filePath(QStringLiteral("cache")));
        QCOMPARE(ShellCommands::offlineStatusText(defaults, cache),
                 QStringLiteral("wallpaper: none\nscreens: all\nplayback: off\ncache: 0 bytes (0 "
                                "videos)\nlumivale: not running\n"));
        defaults.setString(WallpaperManager::kCurrentWallpaperIDKey, QStringLiteral("aurora"));
        defaults.setStringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey,
                                {QStringLiteral("9"), QStringLiteral("1")});
        QFile video(cache.cacheDirectory() + QStringLiteral("/aurora.mp4"));
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(1234, 'x'));
        video.close();
        QCOMPARE(ShellCommands::offlineStatusText(defaults, cache),
                 QStringLiteral("wallpaper: aurora\nscreens: 1 9\nplayback: off\ncache: 1.2 kB (1 "
                                "video)\nlumivale: not running\n"));
    }
};

LUMIVALE_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
