#include "app/commandline.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using namespace lumivale;
using Action = CommandLine::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

    static std::variant<CommandLine, QString> parse(const QStringList &words)
    {
        return CommandLine::parse(QStringList{QStringLiteral("lumivale")} + words);
    }

private Q_SLOTS:
    void everyCommandHasItsOption_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<Action>("action");
        QTest::newRow("open") << QStringLiteral("--open") << Action::Open;
        QTest::newRow("pause") << QStringLiteral("--pause") << Action::Pause;
        QTest::newRow("resume") << QStringLiteral("--resume") << Action::Resume;
        QTest::newRow("toggle") << QStringLiteral("--toggle-pause") << Action::TogglePause;
        QTest::newRow("stop") << QStringLiteral("--stop") << Action::Stop;
        QTest::newRow("refresh") << QStringLiteral("--refresh") << Action::Refresh;
        QTest::newRow("clear") << QStringLiteral("--clear-cache") << Action::ClearCache;
        QTest::newRow("status") << QStringLiteral("--status") << Action::Status;
        QTest::newRow("screens") << QStringLiteral("--screens") << Action::ListScreens;
        QTest::newRow("quit") << QStringLiteral("--quit") << Action::Quit;
    }
    void everyCommandHasItsOption()
    {
        QFETCH(QString, option);
        QFETCH(Action, action);
        const auto parsed = parse({option});
        QCOMPARE(std::get<CommandLine>(parsed).action, action);
        QCOMPARE(CommandLine::optionName(action), option);
        // The running instance reads the same command.
        QCOMPARE(CommandLine::fromJson(std::get<CommandLine>(parsed).toJson()),
                 std::optional(std::get<CommandLine>(parsed)));
    }

    void noCommandReopens()
    {
        const auto plain = std::get<CommandLine>(parse({}));
        QCOMPARE(plain.action, Action::Reopen);
        QVERIFY(!plain.launchedAsLoginItem);
        const auto login = std::get<CommandLine>(parse({QStringLiteral("--login-item")}));
        QCOMPARE(login.action, Action::Reopen);
        QVERIFY(login.launchedAsLoginItem);
        QCOMPARE(CommandLine::fromJson(plain.toJson()), std::optional(plain));
        // The running instance learns that the autostart entry asks.
        QCOMPARE(CommandLine::fromJson(login.toJson()), std::optional(login));
    }

    void applyTakesAFileOrAnIDAndScreens()
    {
        const auto parsed = parse({QStringLiteral("--apply"), QStringLiteral("/v/red.mp4"),
                                   QStringLiteral("--screen"), QStringLiteral("101"),
                                   QStringLiteral("--screen"), QStringLiteral("Left")});
        const auto &command = std::get<CommandLine>(parsed);
        QCOMPARE(command.action, Action::Apply);
        QCOMPARE(command.applyTarget, QStringLiteral("/v/red.mp4"));
        QCOMPARE(command.screenIDs, (QStringList{QStringLiteral("101"), QStringLiteral("Left")}));
        QCOMPARE(CommandLine::fromJson(command.toJson()), std::optional(command));
        // A relative file is the caller's; a bare name that is no file here is
        // a wallpaper ID.
        QCOMPARE(
            std::get<CommandLine>(parse({QStringLiteral("--apply"), QStringLiteral("v/red.mp4")}))
                .applyTarget,
            QDir::current().absoluteFilePath(QStringLiteral("v/red.mp4")));
        QCOMPARE(std::get<CommandLine>(parse({QStringLiteral("--apply"), QStringLiteral("aurora")}))
                     .applyTarget,
                 QStringLiteral("aurora"));
    }

    void mistakesAreExplained_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::newRow("apply without target") << QStringList{QStringLiteral("--apply")};
        QTest::newRow("apply followed by option")
            << QStringList{QStringLiteral("--apply"), QStringLiteral("--screens")};
        QTest::newRow("screen without apply") << QStringList{
            QStringLiteral("--pause"), QStringLiteral("--screen"), QStringLiteral("1")};
        QTest::newRow("screen without id") << QStringList{
            QStringLiteral("--apply"), QStringLiteral("a.mp4"), QStringLiteral("--screen")};
        QTest::newRow("unknown") << QStringList{QStringLiteral("--frobnicate")};
        QTest::newRow("stray word") << QStringList{QStringLiteral("pause")};
        QTest::newRow("two commands")
            << QStringList{QStringLiteral("--pause"), QStringLiteral("--resume")};
    }
    void mistakesAreExplained()
    {
        QFETCH(QStringList, words);
        const auto parsed = parse(words);
        const auto *message = std::get_if<QString>(&parsed);
        QVERIFY(message);
        QVERIFY(!message->isEmpty());
    }

    void foreignMessagesAreRefused_data()
    {
        QTest::addColumn<QJsonObject>("json");
        QTest::newRow("empty") << QJsonObject{};
        QTest::newRow("unknown") << QJsonObject{
            {QStringLiteral("command"), QStringLiteral("format-disk")}};
        QTest::newRow("apply without target")
            << QJsonObject{{QStringLiteral("command"), QStringLiteral("apply")}};
        QTest::newRow("apply with a bad screen")
            << QJsonObject{{QStringLiteral("command"), QStringLiteral("apply")},
                           {QStringLiteral("target"), QStringLiteral("a")},
                           {QStringLiteral("screens"), QJsonArray{1}}};
    }
    void foreignMessagesAreRefused()
    {
        QFETCH(QJsonObject, json);
        QCOMPARE(CommandLine::fromJson(json), std::nullopt);
    }
};

Q_DECLARE_METATYPE(lumivale::CommandLine::Action)

LUMIVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
