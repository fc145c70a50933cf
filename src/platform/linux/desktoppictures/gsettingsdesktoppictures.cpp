#include "gsettingsdesktoppictures.h"

#include "desktoppicturesbackend.h"

#include <QFileInfo>
#include <gio/gio.h>

namespace lumivale {
namespace {

const char *schemaOf(GSettingsDesktopPictures::Flavor flavor)
{
    switch (flavor) {
    case GSettingsDesktopPictures::Flavor::Gnome:
        return "org.gnome.desktop.background";
    case GSettingsDesktopPictures::Flavor::Cinnamon:
        return "org.cinnamon.desktop.background";
    case GSettingsDesktopPictures::Flavor::Mate:
        return "org.mate.background";
    }
    return "";
}

// Looking a schema up first matters: GSettings aborts the process when asked
// for one that is not installed.
bool schemaInstalled(const char *schema)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema *found = g_settings_schema_source_lookup(source, schema, TRUE);
    if (!found)
        return false;
    g_settings_schema_unref(found);
    return true;
}

// Whether `value` is one the key accepts (its enumeration's nicks).
bool inRange(GSettings *settings, const char *key, const QString &value)
{
    GSettingsSchema *schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    GSettingsSchemaKey *schemaKey = g_settings_schema_get_key(schema, key);
    GVariant *candidate = g_variant_ref_sink(g_variant_new_string(value.toUtf8().constData()));
    const bool accepted = g_settings_schema_key_range_check(schemaKey, candidate);
    g_variant_unref(candidate);
    g_settings_schema_key_unref(schemaKey);
    g_settings_schema_unref(schema);
    return accepted;
}

void disableCinnamonSlideshow()
{
    static const char *slideshow = "org.cinnamon.desktop.background.slideshow";
    if (!schemaInstalled(slideshow))
        return;
    GSettings *settings = g_settings_new(slideshow);
    if (g_settings_get_boolean(settings, "slideshow-enabled"))
        g_settings_set_boolean(settings, "slideshow-enabled", FALSE);
    g_object_unref(settings);
}

} // namespace

using namespace desktoppictureserrors;

GSettingsDesktopPictures::GSettingsDesktopPictures(Flavor flavor)
    : m_flavor(flavor)
{
    if (isAvailable(flavor))
        m_settings = g_settings_new(schemaOf(flavor));
}

GSettingsDesktopPictures::~GSettingsDesktopPictures()
{
    if (m_settings)
        g_object_unref(m_settings);
}

bool GSettingsDesktopPictures::isAvailable(Flavor flavor)
{
    return schemaInstalled(schemaOf(flavor));
}

QString GSettingsDesktopPictures::readString(const char *key) const
{
    if (!m_settings)
        return {};
    gchar *value = g_settings_get_string(m_settings, key);
    QString text = QString::fromUtf8(value);
    g_free(value);
    return text;
}

std::optional<QUrl> GSettingsDesktopPictures::desktopImageURL(const Screen &) const
{
    if (m_flavor == Flavor::Mate) {
        const QString path = readString("picture-filename");
        return path.isEmpty() ? std::nullopt : std::optional(QUrl::fromLocalFile(path));
    }
    const QUrl url(readString("picture-uri"));
    return url.isEmpty() ? std::nullopt : std::optional(url);
}

QVariantMap GSettingsDesktopPictures::desktopImageOptions(const Screen &) const
{
    if (!m_settings)
        return {};
    QVariantMap options{{kPictureOptionsKey, readString("picture-options")}};
    if (m_flavor == Flavor::Gnome) {
        const QString dark = readString("picture-uri-dark");
        if (!dark.isEmpty() && dark != readString("picture-uri"))
            options.insert(kDarkPictureKey, dark);
    }
    return options;
}

Result<> GSettingsDesktopPictures::setDesktopImage(const QUrl &image, const Screen &,
                                                   const QVariantMap &options)
{
    if (!m_settings)
        return make(kUnsupported, QStringLiteral("The desktop-picture settings are not installed"));
    if (!image.isLocalFile())
        return make(kInvalidImage,
                    QStringLiteral("\"%1\" is not a local picture file").arg(image.toString()));

    const QString mode = options.value(kPictureOptionsKey, QStringLiteral("zoom")).toString();
    if (!inRange(m_settings, "picture-options", mode))
        return make(kInvalidOption,
                    QStringLiteral("\"%1\" is not a picture option of this desktop").arg(mode));
    const QString darkPicture = options.value(kDarkPictureKey, image.toString()).toString();
    if (m_flavor == Flavor::Gnome && !QUrl(darkPicture).isValid())
        return make(kInvalidOption,
                    QStringLiteral("\"%1\" is not a picture address").arg(darkPicture));

    const char *pictureKey = m_flavor == Flavor::Mate ? "picture-filename" : "picture-uri";
    for (const char *key : {pictureKey, "picture-options"}) {
        if (!g_settings_is_writable(m_settings, key))
            return make(kNotWritable, QStringLiteral("The desktop picture setting %1 is locked")
                                          .arg(QString::fromLatin1(key)));
    }

    // Delayed mode applies the keys together, so the desktop never shows the
    // new picture with the old option.
    g_settings_delay(m_settings);
    const QByteArray picture = m_flavor == Flavor::Mate
                                   ? QFile::encodeName(image.toLocalFile())
                                   : image.toString(QUrl::FullyEncoded).toUtf8();
    bool written = g_settings_set_string(m_settings, pictureKey, picture.constData());
    if (m_flavor == Flavor::Gnome) {
        written = written && g_settings_set_string(m_settings, "picture-uri-dark",
                                                   darkPicture.toUtf8().constData());
    }
    written =
        written && g_settings_set_string(m_settings, "picture-options", mode.toUtf8().constData());
    if (!written) {
        g_settings_revert(m_settings);
        g_settings_apply(m_settings);
        return make(kNotWritable, QStringLiteral("The desktop refused the new desktop picture"));
    }
    g_settings_apply(m_settings);
    if (m_flavor == Flavor::Cinnamon)
        disableCinnamonSlideshow();
    g_settings_sync();
    return {};
}

} // namespace lumivale
