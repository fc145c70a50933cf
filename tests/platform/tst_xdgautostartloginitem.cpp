#include "platform/linux/xdgautostartloginitem.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

using namespace lumivale;
using namespace Qt::StringLiterals;
using Status = LoginItemService::Status;
Q_DECLARE_METATYPE(lumivale::LoginItemService::Status)

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

} // namespace

class TestXdgAutostartLoginItem : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_executable;
    QString m_autostart;

    // A stand-in for the installed program: a real file, so that paths can
    // be compared the way the entry's reader compares them.
    QString makeExecutable(const QString &folderName)
    {
        const QString folder = m_dir->filePath(folderName);
        QDir().mkpath(folder);
        const QString path = folder + u"/lumivale"_s;
        writeFile(path, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        return path;
    }
    QString entryPath() const { return m_autostart + u"/lumivale.desktop"_s; }
    XdgAutostartLoginItem item() const { return XdgAutostartLoginItem(m_executable, m_autostart); }
    QStringList autostartFiles() const
    {
        return QDir(m_autostart).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_executable = makeExecutable(u"bin"_s);
        m_autostart = m_dir->filePath(u"config/autostart"_s);
    }

    void theDefaultFolderIsTheUsersAutostartFolder()
    {
        const XdgAutostartLoginItem defaults;
        QCOMPARE(defaults.entryPath(),
                 QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     u"/autostart/lumivale.desktop"_s);
        QCOMPARE(defaults.executablePath(), QCoreApplication::applicationFilePath());
    }

    void registerAndUnregisterRoundTrip()
    {
        XdgAutostartLoginItem loginItem = item();
        QCOMPARE(loginItem.status(), Status::NotRegistered);
        QCOMPARE(errorOf(loginItem.unregisterLoginItem()), std::nullopt); // nothing there yet

        QCOMPARE(errorOf(loginItem.registerLoginItem()), std::nullopt);
        QCOMPARE(loginItem.status(), Status::Enabled);
        QCOMPARE(autostartFiles(), QStringList{u"lumivale.desktop"_s});
        const QList<QByteArray> lines = readAll(entryPath()).split('\n');
        QCOMPARE(lines.first(), QByteArray("[Desktop Entry]"));
        QVERIFY(lines.contains("Type=Application"));
        QVERIFY(lines.contains("Name=Lumivale"));
        QVERIFY(lines.contains("Icon=lumivale"));
        QVERIFY(lines.contains("X-Lumivale-LoginItem=true"));
        QVERIFY(lines.contains("Exec=" + m_executable.toUtf8() + " --login-item"));

        // Registering again changes nothing that matters.
        QCOMPARE(errorOf(loginItem.registerLoginItem()), std::nullopt);
        QCOMPARE(loginItem.status(), Status::Enabled);

        QCOMPARE(errorOf(loginItem.unregisterLoginItem()), std::nullopt);
        QCOMPARE(loginItem.status(), Status::NotRegistered);
        QVERIFY(autostartFiles().isEmpty());
        QCOMPARE(errorOf(loginItem.unregisterLoginItem()), std::nullopt);
    }

    void theEntryIsAValidDesktopFile()
    {
        const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is missing (package desktop-file-utils)");
        m_executable = makeExecutable(u"My \"Apps\" $HOME 100% \\ it's"_s);
        QCOMPARE(errorOf(item().registerLoginItem()), std::nullopt);
        QProcess validate;
        validate.start(validator, {entryPath()});
        QVERIFY(validate.waitForFinished());
        QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());
        QCOMPARE(validate.readAllStandardOutput(), QByteArray());
    }

    // The Exec line quotes and escapes what the desktop-entry rules ask for
    // (@ is the test's folder; an empty line is not compared), and the entry
    // written for such a program is found again, unlike a neighbour's.
    void awkwardExecutablePathsRoundTrip_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"bin"_s << u"@/bin/lumivale --login-item"_s;
        QTest::newRow("space") << u"My Apps"_s << u"\"@/My Apps/lumivale\" --login-item"_s;
        QTest::newRow("escaped inside quotes")
            << u"a\"b$c`d\\e"_s << u"\"@/a\\\"b\\$c\\`d\\\\e/lumivale\" --login-item"_s;
        QTest::newRow("apostrophe") << u"it's"_s << u"\"@/it's/lumivale\" --login-item"_s;
        QTest::newRow("percent") << u"100%"_s << u"@/100%%/lumivale --login-item"_s;
        QTest::newRow("percent, quoted") << u"100 %"_s << u"\"@/100 %%/lumivale\" --login-item"_s;
        QTest::newRow("non-ASCII") << u"Émile"_s << u"@/Émile/lumivale --login-item"_s;
        QTest::newRow("leading space") << u" lead"_s << QString();
    }
    void awkwardExecutablePathsRoundTrip()
    {
        QFETCH(QString, folder);
        QFETCH(QString, exec);
        m_executable = makeExecutable(folder);
        if (!exec.isEmpty()) {
            QCOMPARE(XdgAutostartLoginItem::execLine(m_executable, {u"--login-item"_s}),
                     exec.replace(u'@', m_dir->path()));
        }
        QCOMPARE(errorOf(item().registerLoginItem()), std::nullopt);
        QCOMPARE(item().status(), Status::Enabled);
        // Another install at a neighbouring path is not this one.
        const QString neighbour = makeExecutable(folder + u"2"_s);
        QCOMPARE(XdgAutostartLoginItem(neighbour, m_autostart).status(), Status::NotRegistered);
    }

    // Whatever was there, registering leaves the entry a fresh one would be.
    void entriesThatAreNotOursAreNotRegistered_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<Status>("status");
        const QByteArray app = "[Desktop Entry]\nType=Application\nName=Lumivale\n";
        const QByteArray ours = "Exec=@EXE@ --login-item\nX-Lumivale-LoginItem=true\n";
        QTest::newRow("another program") << app + "Exec=/usr/bin/true --login-item\n"
                                         << Status::NotRegistered;
        QTest::newRow("ours, from where the program used to be")
            << app + "Exec=/opt/old/lumivale --login-item\nX-Lumivale-LoginItem=true\n"
            << Status::NotRegistered;
        QTest::newRow("ours, Hidden") << app + ours + "Hidden=true\n" << Status::NotRegistered;
        QTest::newRow("ours, switched off by GNOME's switch")
            << app + ours + "X-GNOME-Autostart-enabled=false\n"
            << Status::NotRegistered;
        QTest::newRow("not a desktop entry") << QByteArray("\x7f"
                                                           "ELF\x01\x02 binary")
                                             << Status::NotRegistered;
        QTest::newRow("no desktop group")
            << QByteArray("[Something Else]\nType=Application\nExec=@EXE@\n")
            << Status::NotRegistered;
        QTest::newRow("a link, not an application")
            << QByteArray("[Desktop Entry]\nType=Link\nName=Lumivale\nExec=@EXE@\nURL=x\n")
            << Status::NotRegistered;
        QTest::newRow("no Exec") << app << Status::NotRegistered;
        QTest::newRow("unbalanced quotes") << app + "Exec=\"@EXE@\n" << Status::NotRegistered;
        QTest::newRow("empty file") << QByteArray() << Status::NotRegistered;
        // Written by hand or by an older version, without our marker: it still
        // starts this program at login.
        QTest::newRow("this program, without our marker")
            << QByteArray("[Desktop Entry]\nType=Application\nName=L\nExec=@EXE@\n")
            << Status::Enabled;
        QTest::newRow("this program, Hidden=false")
            << QByteArray("[Desktop Entry]\nType=Application\nName=L\nExec=@EXE@\nHidden=false\n")
            << Status::Enabled;
    }

    void entriesThatAreNotOursAreNotRegistered()
    {
        QFETCH(QByteArray, contents);
        QFETCH(Status, status);
        const QString elsewhere = m_dir->filePath(u"fresh"_s);
        QCOMPARE(errorOf(XdgAutostartLoginItem(m_executable, elsewhere).registerLoginItem()),
                 std::nullopt);
        QDir().mkpath(m_autostart);
        QVERIFY(writeFile(entryPath(), contents.replace("@EXE@", m_executable.toUtf8())));
        XdgAutostartLoginItem loginItem = item();
        QCOMPARE(loginItem.status(), status);
        QCOMPARE(errorOf(loginItem.registerLoginItem()), std::nullopt);
        QCOMPARE(loginItem.status(), Status::Enabled);
        QCOMPARE(readAll(entryPath()), readAll(elsewhere + u"/lumivale.desktop"_s));
    }

    void aFolderThatCannotBeMadeGivesAnErrorAndChangesNothing()
    {
        // A file where the autostart folder should be.
        QDir().mkpath(m_dir->filePath(u"config"_s));
        QVERIFY(writeFile(m_autostart, "in the way"));
        XdgAutostartLoginItem loginItem = item();
        const std::optional<Error> error = errorOf(loginItem.registerLoginItem());
        QVERIFY(error);
        QCOMPARE(error->domain(), u"LoginItem"_s);
        QCOMPARE(error->code(), int(XdgAutostartLoginItem::CannotCreateFolder));
        QVERIFY2(error->description().contains(m_autostart), qPrintable(error->description()));
        QCOMPARE(readAll(m_autostart), QByteArray("in the way"));
        QCOMPARE(loginItem.status(), Status::NotRegistered);
    }

    // What is in the way stays as it was, with no temporary file beside it.
    void anEntryThatCannotBeReplacedGivesAnErrorAndChangesNothing_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else a folder under the entry's name
        QTest::newRow("a folder under the entry's name") << false;
        QTest::newRow("a read-only folder") << true;
    }
    void anEntryThatCannotBeReplacedGivesAnErrorAndChangesNothing()
    {
        QFETCH(bool, readOnlyFolder);
        const QString kept = readOnlyFolder ? entryPath() : entryPath() + u"/keep"_s;
        const QByteArray contents = "[Desktop Entry]\nType=Application\nExec=/usr/bin/true\n";
        if (readOnlyFolder && geteuid() == 0)
            QSKIP("file permissions do not bind root");
        QVERIFY(QDir().mkpath(readOnlyFolder ? m_autostart : entryPath()));
        QVERIFY(writeFile(kept, contents));
        const QStringList files = autostartFiles();
        if (readOnlyFolder)
            QFile::setPermissions(m_autostart, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        XdgAutostartLoginItem loginItem = item();

        const std::optional<Error> writeError = errorOf(loginItem.registerLoginItem());
        const std::optional<Error> removeError = errorOf(loginItem.unregisterLoginItem());
        QFile::setPermissions(m_autostart, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner);
        QVERIFY(writeError);
        QCOMPARE(writeError->domain(), u"LoginItem"_s);
        QCOMPARE(writeError->code(), int(XdgAutostartLoginItem::CannotWriteEntry));
        QVERIFY2(writeError->description().contains(entryPath()),
                 qPrintable(writeError->description()));
        QVERIFY(removeError);
        QCOMPARE(removeError->code(), int(XdgAutostartLoginItem::CannotRemoveEntry));
        QVERIFY2(removeError->description().contains(entryPath()),
                 qPrintable(removeError->description()));
        QCOMPARE(readAll(kept), contents);
        QCOMPARE(autostartFiles(), files);
        QCOMPARE(loginItem.status(), Status::NotRegistered);
    }
};

LUMIVALE_TEST_MAIN(TestXdgAutostartLoginItem)
#include "tst_xdgautostartloginitem.moc"
