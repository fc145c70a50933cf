// The `lumivale` command line: how it is read, and how it reaches the
// running instance.

#include "app/commandline.h"
#include "app/shellcommands.h"
#include "app/singleinstance.h"
#include "cache/videocache.h"
#include "desktop/wallpapermanager.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFuture>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

using namespace lumivale;
using namespace Qt::StringLiterals;
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

class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_runtime;

    static std::variant<CommandLine, QString> parse(const QStringList &words)
    {
        return CommandLine::parse(QStringList{u"lumivale"_s} + words);
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void noCommandReopens()
    {
        const auto plain = std::get<CommandLine>(parse({}));
        QCOMPARE(plain.action, Action::Reopen);
        QVERIFY(!plain.launchedAsLoginItem);
        const auto login = std::get<CommandLine>(parse({u"--login-item"_s}));
        QCOMPARE(login.action, Action::Reopen);
        QVERIFY(login.launchedAsLoginItem);
        // The running instance learns that the autostart entry asks.
        QCOMPARE(CommandLine::fromJson(login.toJson()), std::optional(login));
    }

    void applyTakesAFileOrAnIDAndScreens()
    {
        const auto parsed = parse(
            {u"--apply"_s, u"/v/red.mp4"_s, u"--screen"_s, u"101"_s, u"--screen"_s, u"Left"_s});
        const auto &command = std::get<CommandLine>(parsed);
        QCOMPARE(command.action, Action::Apply);
        QCOMPARE(command.applyTarget, u"/v/red.mp4"_s);
        QCOMPARE(command.screenIDs, (QStringList{u"101"_s, u"Left"_s}));
        QCOMPARE(CommandLine::fromJson(command.toJson()), std::optional(command));
        // A relative file is the caller's; a bare name that is no file here is
        // a wallpaper ID.
        QCOMPARE(std::get<CommandLine>(parse({u"--apply"_s, u"v/red.mp4"_s})).applyTarget,
                 QDir::current().absoluteFilePath(u"v/red.mp4"_s));
        QCOMPARE(std::get<CommandLine>(parse({u"--apply"_s, u"aurora"_s})).applyTarget,
                 u"aurora"_s);
    }

    void mistakesAreExplained_data()
    {
        QTest::addColumn<QString>("words");
        QTest::newRow("apply without target") << u"--apply"_s;
        QTest::newRow("apply followed by option") << u"--apply --screens"_s;
        QTest::newRow("screen without apply") << u"--pause --screen 1"_s;
        QTest::newRow("screen without id") << u"--apply a.mp4 --screen"_s;
        QTest::newRow("unknown") << u"--frobnicate"_s;
        QTest::newRow("stray word") << u"pause"_s;
        QTest::newRow("two commands") << u"--pause --resume"_s;
    }
    void mistakesAreExplained()
    {
        QFETCH(QString, words);
        const auto parsed = parse(words.split(u' '));
        const auto *message = std::get_if<QString>(&parsed);
        QVERIFY(message && !message->isEmpty());
    }

    void foreignMessagesAreRefused_data()
    {
        QTest::addColumn<QJsonObject>("json");
        QTest::newRow("empty") << QJsonObject{};
        QTest::newRow("unknown") << QJsonObject{{u"command"_s, u"format-disk"_s}};
        QTest::newRow("apply without target") << QJsonObject{{u"command"_s, u"apply"_s}};
        QTest::newRow("apply with a bad screen") << QJsonObject{
            {u"command"_s, u"apply"_s}, {u"target"_s, u"a"_s}, {u"screens"_s, QJsonArray{1}}};
    }
    void foreignMessagesAreRefused()
    {
        QFETCH(QJsonObject, json);
        QCOMPARE(CommandLine::fromJson(json), std::nullopt);
    }

    // The first takes the lock and listens, over a socket file a crashed
    // instance left behind; the second sends it commands, and the replies
    // (failures with their description) come back.
    void onlyTheFirstBecomesTheInstance()
    {
        QFile leftover(QDir(m_runtime.path()).filePath(u"lumivale.socket"_s));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance first(m_runtime.path());
        QCOMPARE(*first.lock(), true);
        QCOMPARE(errorOf(first.listen()), std::nullopt);
        SingleInstance second(m_runtime.path());
        QCOMPARE(*second.lock(), false);

        QList<CommandLine> received;
        const Error notFound(u"VideoCache"_s, 404, u"Video download failed with HTTP 404"_s);
        first.setHandler([&](CommandLine line) -> QCoro::Task<CommandReply> {
            received.append(line);
            if (line.action == Action::Pause)
                co_return failure(notFound);
            co_return u"done\n"_s;
        });
        CommandLine apply = command(Action::Apply);
        apply.applyTarget = u"/v/red.mp4"_s;
        apply.screenIDs = {u"101"_s};
        QCOMPARE(sendAndServe(second, apply), CommandReply(u"done\n"_s));
        QCOMPARE(received, QList<CommandLine>{apply});
        QCOMPARE(errorOf(sendAndServe(second, command(Action::Pause))), std::optional(notFound));
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
        QVERIFY(reply.error().description().startsWith(u"No running Lumivale answers"_s));
    }

    void statusWithoutAnInstanceTellsWhatWouldBeRestored()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(u"d.json"_s));
        VideoCache cache(dir.filePath(u"cache"_s));
        QCOMPARE(ShellCommands::offlineStatusText(defaults, cache),
                 QStringLiteral("wallpaper: none\nscreens: all\nplayback: off\ncache: 0 bytes (0 "
                                "videos)\nlumivale: not running\n"));
        defaults.setString(WallpaperManager::kCurrentWallpaperIDKey, u"aurora"_s);
        defaults.setStringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey, {u"9"_s, u"1"_s});
        QFile video(cache.cacheDirectory() + u"/aurora.mp4"_s);
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(1234, 'x'));
        video.close();
        QCOMPARE(ShellCommands::offlineStatusText(defaults, cache),
                 QStringLiteral("wallpaper: aurora\nscreens: 1 9\nplayback: off\ncache: 1.2 kB (1 "
                                "video)\nlumivale: not running\n"));
    }
};

LUMIVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
