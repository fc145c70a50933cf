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
using namespace Qt::StringLiterals;
using Backend = DesktopPicturesBackend;
using Flavor = GSettingsDesktopPictures::Flavor;
Q_DECLARE_METATYPE(lumivale::DesktopPicturesBackend)
Q_DECLARE_METATYPE(lumivale::GSettingsDesktopPictures::Flavor)

namespace {
const Screen left{u"DELL U2720Q DP-1"_s, 101, QRect(0, 0, 1920, 1080)};
const Screen right{u"HDMI-2"_s, 202, QRect(1920, 0, 1280, 1024)};

QString outputOf(const Screen &screen)
{
    return screen.name.section(u' ', -1);
}

// Sets the picture at `path`, and gives the error if any.
std::optional<Error> setPicture(DesktopPictures &pictures, const QString &path,
                                const Screen &screen, const QVariantMap &options = {})
{
    return errorOf(pictures.setDesktopImage(QUrl::fromLocalFile(path), screen, options));
}

int codeOf(const std::optional<Error> &error)
{
    return error.value_or(Error()).code();
}

QString gsettings(const QStringList &arguments)
{
    QProcess process;
    process.start(u"gsettings"_s, arguments);
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
        const QString prelude = uR"(
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
)"_s.arg(QString::fromUtf8(QJsonDocument(containments).toJson()));
        const QJSValue result = engine.evaluate(
            prelude + script + u"\nJSON.stringify({out: __out, state: __state});"_s);
        if (result.isError())
            return u"error: "_s + result.toString();
        const QJsonObject answer = QJsonDocument::fromJson(result.toString().toUtf8()).object();
        containments = answer.value(u"state"_s).toArray();
        QStringList lines;
        for (const QJsonValue &line : answer.value(u"out"_s).toArray())
            lines.append(line.toString());
        return lines.join(u'\n');
    }
};

QJsonObject containment(int screen, const QRect &geometry, const QString &image, int fillMode)
{
    return QJsonObject{{u"screen"_s, screen},
                       {u"geometry"_s, QJsonObject{{u"x"_s, geometry.x()},
                                                   {u"y"_s, geometry.y()},
                                                   {u"width"_s, geometry.width()},
                                                   {u"height"_s, geometry.height()}}},
                       {u"plugin"_s, u"org.kde.image"_s},
                       {u"config"_s, QJsonObject{{u"Image"_s, image}, {u"FillMode"_s, fillMode}}}};
}

} // namespace

class TestDesktopPictures : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // xfconfd is started on it on demand, with this test's XDG_CONFIG_HOME.
    test::PrivateBus m_bus;
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
        return QDBusConnection::connectToBus(m_bus.address(), name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // GSettings reads this once, when it first makes its backend.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        m_hills = makePicture(u"hills.png"_s);
        m_beach = makePicture(u"beach.png"_s);
        QVERIFY(!m_bus.address().isEmpty());
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"xfce"_s);
        QDBusConnection::disconnectFromBus(u"plasma-client"_s);
    }

    // Choice of backend.

    void theBackendFollowsTheSession_data()
    {
        // XDG_CURRENT_DESKTOP|XDG_SESSION_TYPE|override
        QTest::addColumn<QString>("session");
        QTest::addColumn<Backend>("backend");
        QTest::newRow("GNOME") << u"GNOME|wayland|"_s << Backend::Gnome;
        QTest::newRow("Ubuntu") << u"ubuntu:GNOME|x11|"_s << Backend::Gnome;
        QTest::newRow("Budgie") << u"Budgie:GNOME|x11|"_s << Backend::Gnome;
        QTest::newRow("Cinnamon") << u"X-Cinnamon|x11|"_s << Backend::Cinnamon;
        QTest::newRow("MATE") << u"MATE|x11|"_s << Backend::Mate;
        QTest::newRow("KDE") << u"KDE|wayland|"_s << Backend::Plasma;
        QTest::newRow("XFCE") << u"XFCE|x11|"_s << Backend::Xfce;
        QTest::newRow("sway") << u"sway|wayland|"_s << Backend::Sway;
        QTest::newRow("i3 on X11") << u"i3|x11|"_s << Backend::RootWindow;
        QTest::newRow("nothing said, X11") << u"|x11|"_s << Backend::RootWindow;
        QTest::newRow("unknown Wayland") << u"Hyprland|wayland|"_s << Backend::Unsupported;
        QTest::newRow("nothing at all") << u"||"_s << Backend::Unsupported;
        QTest::newRow("override") << u"GNOME|x11|XFCE"_s << Backend::Xfce;
        QTest::newRow("override none") << u"GNOME|x11|none"_s << Backend::Unsupported;
        QTest::newRow("unknown override ignored") << u"MATE|x11|beos"_s << Backend::Mate;
        QTest::newRow("x11 in the desktop list is no desktop")
            << u"x11|wayland|"_s << Backend::Unsupported;
    }
    void theBackendFollowsTheSession()
    {
        QFETCH(QString, session);
        QFETCH(Backend, backend);
        const QStringList parts = session.split(u'|');
        QCOMPARE(chooseDesktopPicturesBackend(parts[0], parts[1], parts[2]), backend);
        QCOMPARE(desktopPicturesBackendNamed(desktopPicturesBackendName(backend)), backend);
    }

    void anUnsupportedDesktopReadsNothingAndFailsToSet()
    {
        auto pictures = makeDesktopPictures(Backend::Unsupported, outputOf);
        QVERIFY(!pictures->desktopImageURL(left));
        QVERIFY(pictures->desktopImageOptions(left).isEmpty());
        const auto error = setPicture(*pictures, m_hills, left);
        QVERIFY(error);
        QCOMPARE(error->domain(), u"DesktopPictures"_s);
        QVERIFY(!error->description().isEmpty());
    }

    // GSettings: one picture for all screens, which another process sees (the
    // keyfile backend writes at once); bad input changes nothing; the pictures
    // captured before a change are put back with their options.
    void gsettingsDesktopsShareOnePicture_data()
    {
        QTest::addColumn<Flavor>("flavor");
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("pictureKey");
        QTest::addColumn<QString>("badOption"); // not among this desktop's options
        QTest::newRow("GNOME") << Flavor::Gnome << "org.gnome.desktop.background"
                               << "picture-uri"
                               << "sideways";
        QTest::newRow("Cinnamon") << Flavor::Cinnamon << "org.cinnamon.desktop.background"
                                  << "picture-uri"
                                  << "sideways";
        QTest::newRow("MATE") << Flavor::Mate << "org.mate.background"
                              << "picture-filename"
                              << "none";
    }
    void gsettingsDesktopsShareOnePicture()
    {
        QFETCH(Flavor, flavor);
        QFETCH(QString, schema);
        QFETCH(QString, pictureKey);
        QFETCH(QString, badOption);
        QVERIFY2(GSettingsDesktopPictures::isAvailable(flavor), qPrintable(schema));
        GSettingsDesktopPictures pictures(flavor);
        const auto optionsOf = [&](const Screen &screen) {
            return pictures.desktopImageOptions(screen).value(u"picture-options"_s);
        };

        QCOMPARE(setPicture(pictures, m_hills, right, {{u"picture-options"_s, u"centered"_s}}),
                 std::nullopt);
        const QString stored = gsettings({u"get"_s, schema, pictureKey});
        QVERIFY2(stored.contains(m_hills), qPrintable(stored));
        QCOMPARE(gsettings({u"get"_s, schema, u"picture-options"_s}), u"'centered'"_s);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_hills));
        QCOMPARE(optionsOf(left), QVariant(u"centered"_s));
        fake::FakeScreenSystem screens;
        screens.setScreens({left, right});
        UserDefaults defaults(m_dir.filePath(QString::fromUtf8(QTest::currentDataTag())));
        PreviousDesktopStore store(u"snapshots"_s, defaults, screens, pictures);
        store.captureIfNeeded();

        QCOMPARE(codeOf(setPicture(pictures, m_beach, left, {{u"picture-options"_s, badOption}})),
                 desktoppictureserrors::kInvalidOption);
        QCOMPARE(codeOf(errorOf(
                     pictures.setDesktopImage(QUrl(u"https://example.com/a.jpg"_s), left, {}))),
                 desktoppictureserrors::kInvalidImage);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(optionsOf(left), QVariant(u"centered"_s));

        // No options: fill the screen as the live wallpaper does.
        QCOMPARE(setPicture(pictures, m_beach, left), std::nullopt);
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(optionsOf(right), QVariant(u"zoom"_s));
        if (flavor == Flavor::Gnome) {
            // The dark picture follows, and a separate one is reported.
            QVERIFY(gsettings({u"get"_s, schema, u"picture-uri-dark"_s}).contains(m_beach));
            QVERIFY(!pictures.desktopImageOptions(left).contains(u"picture-uri-dark"_s));
            const QString dark = QUrl::fromLocalFile(m_hills).toString();
            QCOMPARE(setPicture(pictures, m_beach, left, {{u"picture-uri-dark"_s, dark}}),
                     std::nullopt);
            QCOMPARE(pictures.desktopImageOptions(left).value(u"picture-uri-dark"_s),
                     QVariant(dark));
        }

        QCOMPARE(errorOf(store.restore()), std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(gsettings({u"get"_s, schema, u"picture-options"_s}), u"'centered'"_s);
        QVERIFY(!defaults.contains(u"snapshots"_s));
    }

    // XFCE: the real xfconfd.

    void xfceSetsEachMonitorOnEveryWorkspace()
    {
        XfceDesktopPictures pictures(privateBus(u"xfce"_s), outputOf);
        QVERIFY(!pictures.desktopImageURL(left)); // nothing configured yet

        // A second workspace xfdesktop has configured for DP-1.
        QDBusMessage preset = QDBusMessage::createMethodCall(
            u"org.xfce.Xfconf"_s, u"/org/xfce/Xfconf"_s, u"org.xfce.Xfconf"_s, u"SetProperty"_s);
        preset.setArguments({u"xfce4-desktop"_s,
                             u"/backdrop/screen0/monitorDP-1/workspace1/image-style"_s,
                             QVariant::fromValue(QDBusVariant(1))});
        const QDBusMessage answer = privateBus(u"xfce"_s).call(preset);
        QVERIFY2(answer.type() == QDBusMessage::ReplyMessage, qPrintable(answer.errorMessage()));

        QCOMPARE(setPicture(pictures, m_hills, left, {{u"image-style"_s, 3}}), std::nullopt);
        QCOMPARE(setPicture(pictures, m_beach, right), std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
        QCOMPARE(pictures.desktopImageOptions(left), (QVariantMap{{u"image-style"_s, 3}}));
        QCOMPARE(pictures.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(pictures.desktopImageOptions(right), (QVariantMap{{u"image-style"_s, 5}}));

        // The other workspace follows, as xfconf-query sees it.
        QProcess query;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_bus.address());
        query.setProcessEnvironment(environment);
        query.start(u"xfconf-query"_s, {u"-c"_s, u"xfce4-desktop"_s, u"-p"_s,
                                        u"/backdrop/screen0/monitorDP-1/workspace1/last-image"_s});
        QVERIFY(query.waitForFinished());
        QCOMPARE(QString::fromUtf8(query.readAllStandardOutput()).trimmed(), m_hills);

        QCOMPARE(codeOf(setPicture(pictures, m_beach, left, {{u"image-style"_s, 9}})),
                 desktoppictureserrors::kInvalidOption);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(m_hills));
    }

    // KDE Plasma: a stand-in plasmashell on the private bus, in its own thread.

    void plasmaSetsAndReadsEachScreen()
    {
        QThread serviceThread;
        FakePlasmaShell shell;
        shell.containments = {containment(0, left.frame, u"file:///old/left.jpg"_s, 1),
                              containment(1, right.frame, u"file:///old/right.jpg"_s, 6)};
        QDBusConnection serviceBus = privateBus(u"plasma-service"_s);
        shell.moveToThread(&serviceThread);
        serviceThread.start();
        QVERIFY(
            serviceBus.registerObject(u"/PlasmaShell"_s, &shell, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService(u"org.kde.plasmashell"_s));

        PlasmaDesktopPictures pictures(privateBus(u"plasma-client"_s));
        QCOMPARE(pictures.desktopImageURL(right), QUrl(u"file:///old/right.jpg"_s));
        QCOMPARE(pictures.desktopImageOptions(right), (QVariantMap{{u"FillMode"_s, 6}}));

        // A path that would break out of a naive script stays a path.
        const QString odd = m_dir.filePath(u"it's \"odd\"'); print('x.png"_s);
        QFile::copy(m_hills, odd);
        QCOMPARE(setPicture(pictures, odd, left), std::nullopt);
        QCOMPARE(pictures.desktopImageURL(left), QUrl::fromLocalFile(odd));
        QCOMPARE(pictures.desktopImageOptions(left), (QVariantMap{{u"FillMode"_s, 2}}));
        QCOMPARE(pictures.desktopImageURL(right), QUrl(u"file:///old/right.jpg"_s));

        const Screen elsewhere{u"Nowhere"_s, 9, QRect(9000, 0, 640, 480)};
        QCOMPARE(codeOf(setPicture(pictures, m_hills, elsewhere)),
                 desktoppictureserrors::kNoSuchScreen);
        QVERIFY(!pictures.desktopImageURL(elsewhere));
        QCOMPARE(codeOf(setPicture(pictures, m_hills, left, {{u"FillMode"_s, u"crop"_s}})),
                 desktoppictureserrors::kInvalidOption);

        serviceBus.unregisterService(u"org.kde.plasmashell"_s);
        serviceBus.unregisterObject(u"/PlasmaShell"_s);
        QDBusConnection::disconnectFromBus(u"plasma-service"_s);
        QThread *home = thread();
        QMetaObject::invokeMethod(
            &shell, [&shell, home] { shell.moveToThread(home); }, Qt::BlockingQueuedConnection);
        serviceThread.quit();
        serviceThread.wait();

        // plasmashell gone: reads give nothing, sets fail clearly.
        QVERIFY(!pictures.desktopImageURL(left));
        QCOMPARE(codeOf(setPicture(pictures, m_hills, left)),
                 desktoppictureserrors::kDesktopFailed);
    }

    // sway: a stand-in swaymsg that notes its arguments.

    void swayReadsBackWhatItSet()
    {
        const QString log = m_dir.filePath(u"swaymsg.log"_s);
        const QString script = m_dir.filePath(u"swaymsg"_s);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("#!/bin/sh\nprintf '%s|' \"$@\" >> '%1'\necho >> '%1'\n"
                           "[ \"$2\" != '\"BAD-1\"' ] || { echo 'Error: no output'; exit 2; }\n")
                .arg(log)
                .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const DesktopPictureRecord record(m_dir.filePath(u"record.json"_s));
        SwayDesktopPictures pictures(outputOf, script, record);
        QVERIFY(!pictures.desktopImageURL(left)); // sway cannot say; nothing set yet
        QCOMPARE(setPicture(pictures, m_hills, left), std::nullopt);
        QCOMPARE(setPicture(pictures, m_beach, right, {{u"mode"_s, u"tile"_s}}), std::nullopt);
        QFile written(log);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()),
                 u"output|\"DP-1\"|bg|\"%1\"|fill|\noutput|\"HDMI-2\"|bg|\"%2\"|tile|\n"_s.arg(
                     m_hills, m_beach));

        // A new instance reads the record.
        SwayDesktopPictures again(outputOf, script, record);
        QCOMPARE(again.desktopImageURL(right), QUrl::fromLocalFile(m_beach));
        QCOMPARE(again.desktopImageOptions(right).value(u"mode"_s), QVariant(u"tile"_s));

        const Screen bad{u"BAD-1"_s, 3, QRect()};
        const auto error = setPicture(again, m_hills, bad);
        QVERIFY(error);
        QVERIFY(error->description().contains(u"no output"_s));
        QVERIFY(!again.desktopImageURL(bad));
        QVERIFY(setPicture(again, m_hills, left, {{u"mode"_s, u"zoom"_s}}));
    }
};

LUMIVALE_TEST_MAIN(TestDesktopPictures)
#include "tst_desktoppictures.moc"
