// The desktop-picture backends against the real pieces of each desktop where
// they can run headless: GSettings with the keyfile backend and the installed
// schemas, xfconfd on a private D-Bus session, a stand-in plasmashell that runs
// the scripts in a JavaScript engine, and a stand-in swaymsg. Also the choice
// of backend, the unsupported desktop, and a capture, change and restore of
// the previous desktop pictures through a real backend.

#include "desktop/previousdesktopstore.h"
#include "platform/fake/fakeplatform.h"
#include "platform/linux/desktoppictures/desktoppicturesbackend.h"
#include "platform/linux/desktoppictures/gsettingsdesktoppictures.h"
#include "platform/linux/desktoppictures/plasmadesktoppictures.h"
#include "platform/linux/desktoppictures/swaydesktoppictures.h"
#include "platform/linux/desktoppictures/xfcedesktoppictures.h"
#include "platform/linux/unsupporteddesktoppictures.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace lumivale;
using namespace lumivale::test;
using Backend = DesktopPicturesBackend;
using Flavor = GSettingsDesktopPictures::Flavor;
Q_DECLARE_METATYPE(lumivale::DesktopPicturesBackend)
Q_DECLARE_METATYPE(lumivale::GSettingsDesktopPictures::Flavor)

namespace {
const Screen left{QStringLiteral("DELL U2720Q DP-1"), 101, QRect(0, 0, 1920, 1080)};
const Screen right{QStringLiteral("HDMI-2"), 202, QRect(1920, 0, 1280, 1024)};

QString outputOf(const Screen &screen)
{
    return screen.name.section(u' ', -1);
}

QString gsettings(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A stand-in for plasmashell's scripting interface: it runs each script in a
// JavaScript engine over a small model of desktop containments, with
// desktops(), screenGeometry() and print() as Plasma offers them.
class FakePlasmaShell : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.PlasmaShell")

public:
    // [{screen, geometry: {x, y, width, height}, plugin, config: {...}}]
    QJsonArray containments;
    QStringList scripts;

public Q_SLOTS:
    QString evaluateScript(const QString &script)
    {
        scripts.append(script);
        QJSEngine engine;
        const QString prelude = QStringLiteral(R"(
var __out = [];
var __state = %1;
function print(text) { __out.push(String(text)); }
function screenGeometry(i) {
  return __state.filter(function (c) { return c.screen == i; })[0].geometry;
}
function desktops() {
  return __state.map(function (c) {
    return {
      screen: c.screen,
      get wallpaperPlugin() { return c.plugin; },
      set wallpaperPlugin(v) { c.plugin = v; },
      currentConfigGroup: [],
      readConfig: function (k) { return c.config[k] === undefined ? '' : c.config[k]; },
      writeConfig: function (k, v) { c.config[k] = v; },
      reloadConfig: function () {}
    };
  });
}
)")
                                    .arg(QString::fromUtf8(QJsonDocument(containments).toJson()));
        const QJSValue result = engine.evaluate(
            prelude + script + QStringLiteral("\nJSON.stringify({out: __out, state: __state});"));
        if (result.isError())
            return QStringLiteral("error: ") + result.toString();
        const QJsonObject answer = QJsonDocument::fromJson(result.toString().toUtf8()).object();
        containments = answer.value(QStringLiteral("state")).toArray();
        QStringList lines;
        for (const QJsonValue &line : answer.value(QStringLiteral("out")).toArray())
            lines.append(line.toString());
        return lines.join(u'\n');
    }
};

QJsonObject containment(int screen, const QRect &geometry, const QString &image, int fillMode)
{
    return QJsonObject{
        {QStringLiteral("screen"), screen},
        {QStringLiteral("geometry"), QJsonObject{{QStringLiteral("x"), geometry.x()},
                                                 {QStringLiteral("y"), geometry.y()},
                                                 {QStringLiteral("width"), geometry.width()},
                                                 {QStringLiteral("height"), geometry.height()}}},
        {QStringLiteral("plugin"), QStringLiteral("org.kde.image")},
        {QStringLiteral("config"),
         QJsonObject{{QStringLiteral("Image"), image}, {QStringLiteral("FillMode"), fillMode}}}};
}

} // namespace

class TestDesktopPictures : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_busAddress;
    QString m_hills, m_beach;

    QString makePicture(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        image.save(path, "png");
        return path;
    }
    QDBusConnection privateBus(const QString &name)
    {
        return QDBusConnection::connectToBus(m_busAddress, name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // GSettings reads this once, when it first makes its backend.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        m_hills = makePicture(QStringLiteral("hills.png"));
        m_beach = makePicture(QStringLiteral("beach.png"));

        // A session bus of our own; xfconfd is started on it on demand, with
        // this test's private XDG_CONFIG_HOME.
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is missing (package dbus)");
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_busAddress.isEmpty());
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("xfce"));
        QDBusConnection::disconnectFromBus(QStringLiteral("plasma-client"));
        m_bus.terminate();
        m_bus.waitForFinished();
    }

    // Choice of backend.

    void theBackendFollowsTheSession_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("override");
        QTest::addColumn<Backend>("backend");
        QTest::newRow("GNOME") << "GNOME"
                               << "wayland"
                               << "" << Backend::Gnome;
        QTest::newRow("Ubuntu") << "ubuntu:GNOME"
                                << "x11"
                                << "" << Backend::Gnome;
        QTest::newRow("Budgie") << "Budgie:GNOME"
                                << "x11"
                                << "" << Backend::Gnome;
        QTest::newRow("Cinnamon") << "X-Cinnamon"
                                  << "x11"
                                  << "" << Backend::Cinnamon;
        QTest::newRow("MATE") << "MATE"
                              << "x11"
                              << "" << Backend::Mate;
        QTest::newRow("KDE") << "KDE"
                             << "wayland"
                             << "" << Backend::Plasma;
        QTest::newRow("XFCE") << "XFCE"
                              << "x11"
                              << "" << Backend::Xfce;
        QTest::newRow("sway") << "sway"
                              << "wayland"
                              << "" << Backend::Sway;
        QTest::newRow("i3 on X11") << "i3"
                                   << "x11"
                                   << "" << Backend::RootWindow;
        QTest::newRow("nothing said, X11") << ""
                                           << "x11"
                                           << "" << Backend::RootWindow;
        QTest::newRow("unknown Wayland") << "Hyprland"
                                         << "wayland"
                                         << "" << Backend::Unsupported;
        QTest::newRow("nothing at all") << ""
                                        << ""
                                        << "" << Backend::Unsupported;
        QTest::newRow("override") << "GNOME"
                                  << "x11"
                                  << "XFCE" << Backend::Xfce;
        QTest::newRow("override none") << "GNOME"
                                       << "x11"
                                       << "none" << Backend::Unsupported;
        QTest::newRow("unknown override ignored") << "MATE"
                                                  << "x11"
                                                  << "beos" << Backend::Mate;
        QTest::newRow("x11 in the desktop list is no desktop") << "x11"
                                                               << "wayland"
                                                               << "" << Backend::Unsupported;
    }
    void theBackendFollowsTheSession()
    {
        QFETCH(QString, desktop);
        QFETCH(QString, session);
        QFETCH(QString, override);
        QFETCH(Backend, backend);
        QCOMPARE(chooseDesktopPicturesBackend(desktop, session, override), backend);
        QCOMPARE(desktopPicturesBackendNamed(desktopPicturesBackendName(backend)), backend);
    }

    void anUnsupportedDesktopReadsNothingAndFailsToSet()
    {
        auto pictures = makeDesktopPictures(Backend::Unsupported, outputOf);
        QVERIFY(!pictures->desktopImageURL(left));
        QVERIFY(pictures->desktopImageOptions(left).isEmpty());
        const auto error =
            errorOf(pictures->setDesktopImage(QUrl::fromLocalFile(m_hills), left, {}));
        QVERIFY(error);
        QCOMPARE(error->domain(), QStringLiteral("DesktopPictures"));
        QVERIFY(!error->description().isEmpty());

        // Nothing read, so nothing is saved, and a later apply may try again.
        fake::FakeScreenSystem screens;
        screens.setScreens({left, right});
        UserDefaults defaults(m_dir.filePath(QStringLiteral("unsupported.json")));
        PreviousDesktopStore store(QStringLiteral("snapshots"), defaults, screens, *pictures);
        store.captureIfNeeded();
        QVERIFY(!defaults.contains(QStringLiteral("snapshots")));
        QCOMPARE(errorOf(store.restore()), std::optional(PreviousDesktopStore::noSnapshotError()));
    }

    // GSettings.

    void gsettingsDesktopsShareOnePicture_data()
    {
        QTest::addColumn<Flavor>("flavor");
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("pictureKey");
        QTest::newRow("GNOME") << Flavor::Gnome << "org.gnome.desktop.background"
                               << "picture-uri";
        QTest::newRow("Cinnamon") << Flavor::Cinnamon << "org.cinnamon.desktop.background"
                                  << "picture-uri";
        QTest::newRow("MATE") << Flavor::Mate << "org.mate.background"
                              << "picture-filename";
    }
    void gsettingsDesktopsShareOnePicture()
    {
        QFETCH(Flavor, flavor);
        QFETCH(QString, schema);
        QFETCH(QString, pictureKey);
        QVERIFY2(GSettingsDesktopPictures::isAvailable(flavor), qPrintable(schema));
        GSettingsDesktopPictures pictures(flavor);

        QCOMPARE(errorOf(pictures.setDesktopImage(
                     QUrl::fromLocalFile(m_hills), right,
                     {{QStringLiteral("picture-options"), QStringLiteral("centered")}})),
                 std::nullopt);
        // Another process sees it (the keyfile backend writes at once).
        const QString stored = gsettings({QStringLiteral("get"), schema, pictureKey});
        QVERIFY2(stored.contains(m_hills), qPrintable(stored));
        QCOMPARE(gsettings({QStringLiteral("get"), schema, QStringLiteral("picture-options")}),
                 QStringLiteral("'centered'"));
        // One picture for all screens.
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageOptions(left).value(QStringLiteral("picture-options")),
                 QVariant(QStringLiteral("centered")));

        // No options: fill the screen as the live wallpaper does.
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_beach), left, {})),
                 std::nullopt);
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(pictures.desktopImageOptions(right).value(QStringLiteral("picture-options")),
                 QVariant(QStringLiteral("zoom")));
    }

    void gnomeSetsTheDarkPictureToo()
    {
        GSettingsDesktopPictures pictures(Flavor::Gnome);
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left, {})),
                 std::nullopt);
        QVERIFY(gsettings({QStringLiteral("get"), QStringLiteral("org.gnome.desktop.background"),
                           QStringLiteral("picture-uri-dark")})
                    .contains(m_hills));
        QVERIFY(!pictures.desktopImageOptions(left).contains(QStringLiteral("picture-uri-dark")));

        // A separate dark picture is reported, and put back by a restore.
        const QString dark = QUrl::fromLocalFile(m_beach).toString();
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left,
                                                  {{QStringLiteral("picture-uri-dark"), dark}})),
                 std::nullopt);
        QCOMPARE(pictures.desktopImageOptions(left).value(QStringLiteral("picture-uri-dark")),
                 QVariant(dark));
    }

    void badGSettingsInputFailsAndChangesNothing()
    {
        GSettingsDesktopPictures pictures(Flavor::Mate);
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left, {})),
                 std::nullopt);
        auto error = errorOf(pictures.setDesktopImage(
            QUrl::fromLocalFile(m_beach), left,
            {{QStringLiteral("picture-options"), QStringLiteral("none")}})); // not on MATE
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kInvalidOption);
        error = errorOf(
            pictures.setDesktopImage(QUrl(QStringLiteral("https://example.com/a.jpg")), left, {}));
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kInvalidImage);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageOptions(left).value(QStringLiteral("picture-options")),
                 QVariant(QStringLiteral("zoom")));
    }

    void restorePutsTheGSettingsPictureBack()
    {
        GSettingsDesktopPictures pictures(Flavor::Cinnamon);
        QCOMPARE(errorOf(pictures.setDesktopImage(
                     QUrl::fromLocalFile(m_hills), left,
                     {{QStringLiteral("picture-options"), QStringLiteral("scaled")}})),
                 std::nullopt);
        fake::FakeScreenSystem screens;
        screens.setScreens({left, right});
        UserDefaults defaults(m_dir.filePath(QStringLiteral("restore.json")));
        PreviousDesktopStore store(QStringLiteral("snapshots"), defaults, screens, pictures);

        store.captureIfNeeded();
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_beach), left, {})),
                 std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_beach));
        QCOMPARE(errorOf(store.restore()), std::nullopt);
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_hills));
        QCOMPARE(
            gsettings({QStringLiteral("get"), QStringLiteral("org.cinnamon.desktop.background"),
                       QStringLiteral("picture-options")}),
            QStringLiteral("'scaled'"));
        QVERIFY(!defaults.contains(QStringLiteral("snapshots")));
    }

    // XFCE: the real xfconfd.

    void xfceSetsEachMonitorOnEveryWorkspace()
    {
        XfceDesktopPictures pictures(privateBus(QStringLiteral("xfce")), outputOf);
        QVERIFY(!pictures.desktopImageURL(left)); // nothing configured yet

        // A second workspace xfdesktop has configured for DP-1.
        QDBusMessage preset = QDBusMessage::createMethodCall(
            QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
            QStringLiteral("org.xfce.Xfconf"), QStringLiteral("SetProperty"));
        preset.setArguments({QStringLiteral("xfce4-desktop"),
                             QStringLiteral("/backdrop/screen0/monitorDP-1/workspace1/image-style"),
                             QVariant::fromValue(QDBusVariant(1))});
        const QDBusMessage answer = privateBus(QStringLiteral("xfce")).call(preset);
        QVERIFY2(answer.type() == QDBusMessage::ReplyMessage, qPrintable(answer.errorMessage()));

        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left,
                                                  {{QStringLiteral("image-style"), 3}})),
                 std::nullopt);
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_beach), right, {})),
                 std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageOptions(left),
                 (QVariantMap{{QStringLiteral("image-style"), 3}}));
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(pictures.desktopImageOptions(right),
                 (QVariantMap{{QStringLiteral("image-style"), 5}}));

        // The other workspace follows, as xfconf-query sees it.
        QProcess query;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        query.setProcessEnvironment(environment);
        query.start(QStringLiteral("xfconf-query"),
                    {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-p"),
                     QStringLiteral("/backdrop/screen0/monitorDP-1/workspace1/last-image")});
        QVERIFY(query.waitForFinished());
        QCOMPARE(QString::fromUtf8(query.readAllStandardOutput()).trimmed(), m_hills);

        const auto error = errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_beach), left,
                                                            {{QStringLiteral("image-style"), 9}}));
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kInvalidOption);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
    }

    // KDE Plasma: a stand-in plasmashell on the private bus, in its own thread.

    void plasmaSetsAndReadsEachScreen()
    {
        QThread serviceThread;
        FakePlasmaShell shell;
        shell.containments = {
            containment(0, left.frame, QStringLiteral("file:///old/left.jpg"), 1),
            containment(1, right.frame, QStringLiteral("file:///old/right.jpg"), 6)};
        QDBusConnection serviceBus = privateBus(QStringLiteral("plasma-service"));
        shell.moveToThread(&serviceThread);
        serviceThread.start();
        QVERIFY(serviceBus.registerObject(QStringLiteral("/PlasmaShell"), &shell,
                                          QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService(QStringLiteral("org.kde.plasmashell")));

        PlasmaDesktopPictures pictures(privateBus(QStringLiteral("plasma-client")));
        QCOMPARE(pictures.desktopImageURL(right), QUrl(QStringLiteral("file:///old/right.jpg")));
        QCOMPARE(pictures.desktopImageOptions(right),
                 (QVariantMap{{QStringLiteral("FillMode"), 6}}));

        // A path that would break out of a naive script stays a path.
        const QString odd = m_dir.filePath(QStringLiteral("it's \"odd\"'); print('x.png"));
        QFile::copy(m_hills, odd);
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(odd), left, {})),
                 std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(odd));
        QCOMPARE(pictures.desktopImageOptions(left),
                 (QVariantMap{{QStringLiteral("FillMode"), 2}}));
        QCOMPARE(pictures.desktopImageURL(right), QUrl(QStringLiteral("file:///old/right.jpg")));

        const Screen elsewhere{QStringLiteral("Nowhere"), 9, QRect(9000, 0, 640, 480)};
        auto error = errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), elsewhere, {}));
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kNoSuchScreen);
        QVERIFY(!pictures.desktopImageURL(elsewhere));
        error = errorOf(
            pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left,
                                     {{QStringLiteral("FillMode"), QStringLiteral("crop")}}));
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kInvalidOption);

        serviceBus.unregisterService(QStringLiteral("org.kde.plasmashell"));
        serviceBus.unregisterObject(QStringLiteral("/PlasmaShell"));
        QDBusConnection::disconnectFromBus(QStringLiteral("plasma-service"));
        QThread *home = thread();
        QMetaObject::invokeMethod(
            &shell, [&shell, home] { shell.moveToThread(home); }, Qt::BlockingQueuedConnection);
        serviceThread.quit();
        serviceThread.wait();

        // plasmashell gone: reads give nothing, sets fail clearly.
        QVERIFY(!pictures.desktopImageURL(left));
        error = errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left, {}));
        QVERIFY(error);
        QCOMPARE(error->code(), desktoppictureserrors::kDesktopFailed);
    }

    // sway: a stand-in swaymsg that notes its arguments.

    void swayReadsBackWhatItSet()
    {
        const QString log = m_dir.filePath(QStringLiteral("swaymsg.log"));
        const QString script = m_dir.filePath(QStringLiteral("swaymsg"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("#!/bin/sh\nprintf '%s|' \"$@\" >> '%1'\necho >> '%1'\n"
                           "[ \"$2\" != '\"BAD-1\"' ] || { echo 'Error: no output'; exit 2; }\n")
                .arg(log)
                .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const DesktopPictureRecord record(m_dir.filePath(QStringLiteral("record.json")));
        SwayDesktopPictures pictures(outputOf, script, record);
        QVERIFY(!pictures.desktopImageURL(left)); // sway cannot say; nothing set yet
        QCOMPARE(errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_hills), left, {})),
                 std::nullopt);
        QCOMPARE(
            errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(m_beach), right,
                                             {{QStringLiteral("mode"), QStringLiteral("tile")}})),
            std::nullopt);
        QFile written(log);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(
            QString::fromUtf8(written.readAll()),
            QStringLiteral("output|\"DP-1\"|bg|\"%1\"|fill|\noutput|\"HDMI-2\"|bg|\"%2\"|tile|\n")
                .arg(m_hills, m_beach));

        // A new instance reads the record.
        SwayDesktopPictures again(outputOf, script, record);
        QCOMPARE(again.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(again.desktopImageOptions(right).value(QStringLiteral("mode")),
                 QVariant(QStringLiteral("tile")));

        const Screen bad{QStringLiteral("BAD-1"), 3, QRect()};
        const auto error = errorOf(again.setDesktopImage(QUrl::fromLocalFile(m_hills), bad, {}));
        QVERIFY(error);
        QVERIFY(error->description().contains(QStringLiteral("no output")));
        QVERIFY(!again.desktopImageURL(bad));
        QVERIFY(!again.setDesktopImage(QUrl::fromLocalFile(m_hills), left,
                                       {{QStringLiteral("mode"), QStringLiteral("zoom")}}));
    }
};

LUMIVALE_TEST_MAIN(TestDesktopPictures)
#include "tst_desktoppictures.moc"
