#include "userdefaults.h"

#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace lumivale {
namespace {

const auto kDataMember = QStringLiteral("base64");

QVariant fromJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Array: {
        QStringList strings;
        for (const QJsonValue &element : value.toArray()) {
            if (!element.isString())
                return {};
            strings.append(element.toString());
        }
        return strings;
    }
    case QJsonValue::Object: {
        const QJsonValue encoded = value.toObject().value(kDataMember);
        if (!encoded.isString())
            return {};
        auto decoded = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        return decoded ? QVariant(*decoded) : QVariant();
    }
    default:
        return {};
    }
}

QJsonValue toJson(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QByteArray:
        return QJsonObject{{kDataMember, QString::fromLatin1(value.toByteArray().toBase64())}};
    default:
        return value.toString();
    }
}

bool readJson(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        QVariant value = fromJson(it.value());
        if (value.isValid())
            map.insert(it.key(), std::move(value));
    }
    return true;
}

bool writeJson(QIODevice &device, const QSettings::SettingsMap &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson, Qt::CaseSensitive);
    return format;
}

} // namespace

UserDefaults::UserDefaults(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(filePath, jsonFormat()))
{
    if (m_settings->status() == QSettings::FormatError) {
        const QString aside = filePath + QStringLiteral(".bad");
        QFile::remove(aside);
        QFile::copy(filePath, aside);
    }
}

UserDefaults::~UserDefaults() = default;

UserDefaults &UserDefaults::standard()
{
    static auto *instance =
        new UserDefaults(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QStringLiteral("/lumivale/lumivale.json"));
    return *instance;
}

bool UserDefaults::contains(const QString &key) const
{
    return m_settings->contains(key);
}

template<typename T>
static std::optional<T> valueOf(const QSettings &settings, const QString &key, QMetaType::Type type)
{
    const QVariant value = settings.value(key);
    if (value.typeId() != type)
        return std::nullopt;
    return value.value<T>();
}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    return valueOf<QString>(*m_settings, key, QMetaType::QString);
}

std::optional<bool> UserDefaults::boolean(const QString &key) const
{
    return valueOf<bool>(*m_settings, key, QMetaType::Bool);
}

std::optional<QStringList> UserDefaults::stringArray(const QString &key) const
{
    return valueOf<QStringList>(*m_settings, key, QMetaType::QStringList);
}

std::optional<QByteArray> UserDefaults::data(const QString &key) const
{
    return valueOf<QByteArray>(*m_settings, key, QMetaType::QByteArray);
}

void UserDefaults::setString(const QString &key, const QString &value)
{
    write(key, value);
}

void UserDefaults::setBool(const QString &key, bool value)
{
    write(key, value);
}

void UserDefaults::setStringArray(const QString &key, const QStringList &value)
{
    write(key, value);
}

void UserDefaults::setData(const QString &key, const QByteArray &value)
{
    write(key, value);
}

void UserDefaults::remove(const QString &key)
{
    m_settings->remove(key);
    Q_EMIT changed(key);
}

void UserDefaults::sync()
{
    m_settings->sync();
}

QString UserDefaults::filePath() const
{
    return m_settings->fileName();
}

void UserDefaults::write(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    Q_EMIT changed(key);
}

} // namespace lumivale
