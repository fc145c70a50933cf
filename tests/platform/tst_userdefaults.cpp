#include "platform/error.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <unistd.h>

using namespace lumivale;

class TestUserDefaults : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("defaults.json")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void valuesKeepTheirShapeAcrossInstances()
    {
        {
            UserDefaults defaults(path());
            defaults.setString(QStringLiteral("s"), QStringLiteral("true"));
            defaults.setBool(QStringLiteral("b"), false);
            defaults.setStringArray(QStringLiteral("one"), {QStringLiteral("only")});
            defaults.setStringArray(QStringLiteral("none"), {});
            defaults.setData(QStringLiteral("d"), QByteArray("\x00\xff[1]", 5));
        }
        UserDefaults reread(path());
        QCOMPARE(reread.string(QStringLiteral("s")), QStringLiteral("true"));
        QCOMPARE(reread.boolean(QStringLiteral("b")), false);
        // A one-element list must not come back as a plain string.
        QCOMPARE(reread.stringArray(QStringLiteral("one")), QStringList{QStringLiteral("only")});
        QCOMPARE(reread.stringArray(QStringLiteral("none")), QStringList());
        QCOMPARE(reread.data(QStringLiteral("d")), QByteArray("\x00\xff[1]", 5));
    }

    void readingTheWrongShapeFindsNothing()
    {
        UserDefaults defaults(path());
        defaults.setString(QStringLiteral("key"), QStringLiteral("text"));
        QVERIFY(!defaults.data(QStringLiteral("key")));
        QVERIFY(!defaults.boolean(QStringLiteral("key")));
        QVERIFY(!defaults.stringArray(QStringLiteral("key")));
        QVERIFY(!defaults.string(QStringLiteral("missing")));
        QVERIFY(defaults.contains(QStringLiteral("key")));
    }

    void removeForgetsTheKey()
    {
        UserDefaults defaults(path());
        defaults.setBool(QStringLiteral("k"), true);
        defaults.remove(QStringLiteral("k"));
        defaults.sync();
        QVERIFY(!defaults.contains(QStringLiteral("k")));
        QVERIFY(!UserDefaults(path()).contains(QStringLiteral("k")));
    }

    void unparsableFileIsKeptAside()
    {
        {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{ not json");
        }
        UserDefaults defaults(path());
        QVERIFY(!defaults.contains(QStringLiteral("anything")));
        defaults.setString(QStringLiteral("fresh"), QStringLiteral("value"));
        defaults.sync();
        QFile aside(path() + QStringLiteral(".bad"));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("{ not json"));
        QCOMPARE(UserDefaults(path()).string(QStringLiteral("fresh")), QStringLiteral("value"));
    }

    void backgroundFailureIsOneLine()
    {
        QTemporaryDir dir;
        const QString captured = dir.filePath(QStringLiteral("stdout"));
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        QVERIFY(std::freopen(qPrintable(captured), "w", stdout));
        logFailure(u"restore failed:",
                   Error(QStringLiteral("VideoCache"), 404, QStringLiteral("Not found")));
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        QFile file(captured);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("restore failed: Not found\n"));
    }
};

LUMIVALE_TEST_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
