#include "swaydesktoppictures.h"

#include <QProcess>

namespace lumivale {

using namespace desktoppictureserrors;

SwayDesktopPictures::SwayDesktopPictures(ScreenOutputName outputName, QString swaymsg,
                                         DesktopPictureRecord record)
    : m_outputName(std::move(outputName))
    , m_swaymsg(std::move(swaymsg))
    , m_record(std::move(record))
{}

std::optional<QUrl> SwayDesktopPictures::desktopImageURL(const Screen &screen) const
{
    const auto entry = m_record.entry(screen.name);
    return entry ? std::optional(QUrl::fromLocalFile(entry->path)) : std::nullopt;
}

QVariantMap SwayDesktopPictures::desktopImageOptions(const Screen &screen) const
{
    const auto entry = m_record.entry(screen.name);
    return entry ? entry->options : QVariantMap();
}

Result<> SwayDesktopPictures::setDesktopImage(const QUrl &image, const Screen &screen,
                                              const QVariantMap &options)
{
    const QString mode = options.value(kModeKey, QStringLiteral("fill")).toString();
    if (!isBackgroundMode(mode))
        return make(kInvalidOption,
                    QStringLiteral("\"%1\" is not a sway background mode").arg(mode));
    if (!image.isLocalFile())
        return make(kInvalidImage,
                    QStringLiteral("\"%1\" is not a local picture file").arg(image.toString()));

    // Each argument travels on its own: sway parses one command, quoted.
    QString file = image.toLocalFile();
    file.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    QProcess swaymsg;
    swaymsg.start(m_swaymsg,
                  {QStringLiteral("output"), QStringLiteral("\"%1\"").arg(m_outputName(screen)),
                   QStringLiteral("bg"), QStringLiteral("\"%1\"").arg(file), mode});
    if (!swaymsg.waitForFinished(kCallTimeoutMs) || swaymsg.exitStatus() != QProcess::NormalExit ||
        swaymsg.exitCode() != 0) {
        const QString said =
            QString::fromUtf8(swaymsg.readAllStandardOutput() + swaymsg.readAllStandardError())
                .trimmed();
        swaymsg.kill();
        return make(kDesktopFailed, QStringLiteral("sway did not take the desktop picture: %1")
                                        .arg(said.isEmpty() ? swaymsg.errorString() : said));
    }
    if (!m_record.setEntry(screen.name, {image.toLocalFile(), {{kModeKey, mode}}}))
        return make(kDesktopFailed,
                    QStringLiteral("The picture is set, but Lumivale cannot note it in %1")
                        .arg(m_record.filePath()));
    return {};
}

} // namespace lumivale
