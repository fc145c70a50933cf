#include "plasmadesktoppictures.h"

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lumivale {
namespace {

using namespace desktoppictureserrors;

QString jsString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Script text that runs `body` for each desktop containment on the screen,
// with `d` the containment and `matched` counting them.
QString forEachDesktopOn(const Screen &screen, const QString &body)
{
    return QStringLiteral(
               "var matched = 0;\n"
               "desktops().forEach(function (d) {\n"
               "  var g = screenGeometry(d.screen);\n"
               "  if (g.x != %1 || g.y != %2 || g.width != %3 || g.height != %4) return;\n"
               "  ++matched;\n"
               "%5\n"
               "});\n")
        .arg(screen.frame.x())
        .arg(screen.frame.y())
        .arg(screen.frame.width())
        .arg(screen.frame.height())
        .arg(body);
}

} // namespace

PlasmaDesktopPictures::PlasmaDesktopPictures(QDBusConnection bus)
    : m_bus(std::move(bus))
{}

Result<QString> PlasmaDesktopPictures::evaluate(const QString &script) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
        QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
    call.setArguments({script});
    const QDBusMessage answer = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return make(
            kDesktopFailed,
            QStringLiteral("Plasma did not run the desktop script: %1").arg(answer.errorMessage()));
    return answer.arguments().first().toString();
}

QVariantMap PlasmaDesktopPictures::readScreen(const Screen &screen) const
{
    const QString script = forEachDesktopOn(
        screen,
        QStringLiteral("  if (matched > 1) return;\n"
                       "  d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];\n"
                       "  print(JSON.stringify({plugin: d.wallpaperPlugin,\n"
                       "                        image: String(d.readConfig('Image')),\n"
                       "                        fillMode: String(d.readConfig('FillMode'))}));"));
    const Result<QString> output = evaluate(script);
    if (!output)
        return {};
    const QJsonObject found =
        QJsonDocument::fromJson(output->section(u'\n', 0, 0).toUtf8()).object();
    if (found.value(QStringLiteral("plugin")).toString() != QStringLiteral("org.kde.image"))
        return {};
    return found.toVariantMap();
}

std::optional<QUrl> PlasmaDesktopPictures::desktopImageURL(const Screen &screen) const
{
    const QString image = readScreen(screen).value(QStringLiteral("image")).toString();
    if (image.isEmpty())
        return std::nullopt;
    const QUrl url(image);
    return url.scheme().isEmpty() ? QUrl::fromLocalFile(image) : url;
}

QVariantMap PlasmaDesktopPictures::desktopImageOptions(const Screen &screen) const
{
    bool isNumber = false;
    const int mode =
        readScreen(screen).value(QStringLiteral("fillMode")).toString().toInt(&isNumber);
    return isNumber ? QVariantMap{{kFillModeKey, mode}} : QVariantMap();
}

Result<> PlasmaDesktopPictures::setDesktopImage(const QUrl &image, const Screen &screen,
                                                const QVariantMap &options)
{
    bool isNumber = true;
    const int mode = options.value(kFillModeKey, 2).toInt(&isNumber);
    if (!isNumber || mode < 0 || mode > 6)
        return make(kInvalidOption, QStringLiteral("\"%1\" is not a Plasma fill mode")
                                        .arg(options.value(kFillModeKey).toString()));
    if (!image.isLocalFile())
        return make(kInvalidImage,
                    QStringLiteral("\"%1\" is not a local picture file").arg(image.toString()));

    // Plasma ignores a write of the path it already shows, even when the file
    // changed (the frozen frame is rewritten in place): clear it first.
    const QString url = jsString(image.toString(QUrl::FullyEncoded));
    const QString script =
        forEachDesktopOn(
            screen, QStringLiteral(
                        "  d.wallpaperPlugin = 'org.kde.image';\n"
                        "  d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];\n"
                        "  if (String(d.readConfig('Image')) == %1) d.writeConfig('Image', '');\n"
                        "  d.writeConfig('FillMode', %2);\n"
                        "  d.writeConfig('Image', %1);")
                        .arg(url)
                        .arg(mode)) +
        QStringLiteral("print(matched);\n");
    const Result<QString> output = evaluate(script);
    if (!output)
        return failure(output.error());
    if (output->trimmed().toInt() < 1)
        return make(kNoSuchScreen,
                    QStringLiteral("Plasma has no desktop on the screen %1").arg(screen.name));
    return {};
}

} // namespace lumivale
