#include "app/commandline.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using namespace lumivale;
using Action = CommandLine::Action;
using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

    static std::variant<CommandLine, QString> parse(const QStringList &words)
    {
        return CommandLine::parse(QStringList{u"lumivale"_s} + words);
    }

private Q_SLOTS:
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
};

LUMIVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
