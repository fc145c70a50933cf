#include "xfcedesktoppictures.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QRegularExpression>
#include <QSet>

namespace lumivale {
namespace {

using namespace desktoppictureserrors;

const QString channel = QStringLiteral("xfce4-desktop");

QDBusMessage xfconfCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
        QStringLiteral("org.xfce.Xfconf"), method);
    message.setArguments(arguments);
    return message;
}

} // namespace

XfceDesktopPictures::XfceDesktopPictures(QDBusConnection bus, ScreenOutputName outputName)
    : m_bus(std::move(bus))
    , m_outputName(std::move(outputName))
{}

QString XfceDesktopPictures::monitorBase(const Screen &screen) const
{
    return QStringLiteral("/backdrop/screen0/monitor") + m_outputName(screen);
}

std::optional<QVariant> XfceDesktopPictures::property(const QString &path) const
{
    const QDBusMessage answer = m_bus.call(
        xfconfCall(QStringLiteral("GetProperty"), {channel, path}), QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return std::nullopt;
    return answer.arguments().first().value<QDBusVariant>().variant();
}

std::optional<QUrl> XfceDesktopPictures::desktopImageURL(const Screen &screen) const
{
    const auto path = property(monitorBase(screen) + QStringLiteral("/workspace0/last-image"));
    if (!path || path->toString().isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(path->toString());
}

QVariantMap XfceDesktopPictures::desktopImageOptions(const Screen &screen) const
{
    const auto style = property(monitorBase(screen) + QStringLiteral("/workspace0/image-style"));
    if (!style)
        return {};
    return {{kImageStyleKey, style->toInt()}};
}

Result<> XfceDesktopPictures::setDesktopImage(const QUrl &image, const Screen &screen,
                                              const QVariantMap &options)
{
    bool isNumber = true;
    const int style = options.value(kImageStyleKey, 5).toInt(&isNumber);
    if (!isNumber || style < 0 || style > 6) {
        return make(kInvalidOption, QStringLiteral("\"%1\" is not an XFCE image style")
                                        .arg(options.value(kImageStyleKey).toString()));
    }
    if (!image.isLocalFile())
        return make(kInvalidImage,
                    QStringLiteral("\"%1\" is not a local picture file").arg(image.toString()));

    // Every workspace the channel knows for this monitor, and always the first.
    const QString base = monitorBase(screen);
    QSet<int> workspaces{0};
    const QDBusMessage all =
        m_bus.call(xfconfCall(QStringLiteral("GetAllProperties"), {channel, base}), QDBus::Block,
                   kCallTimeoutMs);
    if (all.type() == QDBusMessage::ReplyMessage && !all.arguments().isEmpty()) {
        QVariantMap properties;
        all.arguments().first().value<QDBusArgument>() >> properties;
        static const QRegularExpression workspace(QStringLiteral("/workspace(\\d+)/"));
        for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
            if (const auto match = workspace.match(it.key()); match.hasMatch())
                workspaces.insert(match.captured(1).toInt());
        }
    }

    QList<int> ordered(workspaces.cbegin(), workspaces.cend());
    std::sort(ordered.begin(), ordered.end());
    // A set that fails part-way puts back what it already changed, so that the
    // workspaces never disagree.
    QList<std::pair<QString, std::optional<QVariant>>> changed;
    for (const int n : ordered) {
        const QString prefix = base + QStringLiteral("/workspace%1/").arg(n);
        for (const auto &[key, value] :
             {std::pair{QStringLiteral("image-style"), QVariant(style)},
              std::pair{QStringLiteral("last-image"), QVariant(image.toLocalFile())}}) {
            const QString path = prefix + key;
            const std::optional<QVariant> before = property(path);
            if (Result<> set = setProperty(path, value); !set) {
                for (auto it = changed.crbegin(); it != changed.crend(); ++it) {
                    if (it->second)
                        setProperty(it->first, *it->second);
                    else
                        m_bus.call(xfconfCall(QStringLiteral("ResetProperty"),
                                              {channel, it->first, false}),
                                   QDBus::Block, kCallTimeoutMs);
                }
                return set;
            }
            changed.append({path, before});
        }
    }
    return {};
}

Result<> XfceDesktopPictures::setProperty(const QString &path, const QVariant &value)
{
    const QDBusMessage answer =
        m_bus.call(xfconfCall(QStringLiteral("SetProperty"),
                              {channel, path, QVariant::fromValue(QDBusVariant(value))}),
                   QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage)
        return make(
            kDesktopFailed,
            QStringLiteral("XFCE did not take the desktop picture: %1").arg(answer.errorMessage()));
    return {};
}

} // namespace lumivale
