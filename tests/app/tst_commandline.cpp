#include "app/commandline.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

using namespace lumivale;

class TestCommandLine : public QObject
{
    Q_OBJECT

    static std::variant<CommandLine, QString> parse(std::initializer_list<const char *> words)
    {
        QStringList arguments{QStringLiteral("lumivale")};
        for (const char *word : words)
            arguments.append(QString::fromUtf8(word));
        return CommandLine::parse(arguments);
    }

private Q_SLOTS:
    void applyTakesAFileAndScreens()
    {
        const auto parsed = parse({"--apply", "/v/red.mp4", "--screen", "101", "--screen", "Left"});
        const auto *command = std::get_if<CommandLine>(&parsed);
        QVERIFY(command);
        QCOMPARE(command->action, CommandLine::Action::Apply);
        QCOMPARE(command->file, QStringLiteral("/v/red.mp4"));
        QCOMPARE(command->screenIDs, (QStringList{QStringLiteral("101"), QStringLiteral("Left")}));
    }

    void screensListsScreens()
    {
        QCOMPARE(std::get<CommandLine>(parse({"--screens"})).action,
                 CommandLine::Action::ListScreens);
        QCOMPARE(std::get<CommandLine>(parse({})).action, CommandLine::Action::None);
    }

    void mistakesAreExplained_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::newRow("apply without file") << QStringList{QStringLiteral("--apply")};
        QTest::newRow("apply followed by option")
            << QStringList{QStringLiteral("--apply"), QStringLiteral("--screens")};
        QTest::newRow("screen without apply")
            << QStringList{QStringLiteral("--screen"), QStringLiteral("1")};
        QTest::newRow("screen without id") << QStringList{
            QStringLiteral("--apply"), QStringLiteral("a.mp4"), QStringLiteral("--screen")};
        QTest::newRow("unknown") << QStringList{QStringLiteral("--frobnicate")};
        QTest::newRow("two actions") << QStringList{
            QStringLiteral("--screens"), QStringLiteral("--apply"), QStringLiteral("a.mp4")};
    }
    void mistakesAreExplained()
    {
        QFETCH(QStringList, words);
        words.prepend(QStringLiteral("lumivale"));
        const auto parsed = CommandLine::parse(words);
        const auto *message = std::get_if<QString>(&parsed);
        QVERIFY(message);
        QVERIFY(!message->isEmpty());
    }
};

LUMIVALE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
