#pragma once

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <memory>
#include <optional>

namespace lumivale {

// The user's small persistent state: a few keys, each holding a string, a bool,
// an array of strings or opaque data. Values are stored with their shape, so a
// read of the wrong shape finds nothing, as it would for a missing key.
//
// The file is a JSON object through QSettings, so it stays readable and each
// value keeps its shape: strings, booleans and string arrays as themselves,
// data as {"base64": "..."}. `standard()` lives in the user's configuration
// folder ($XDG_CONFIG_HOME/lumivale/lumivale.json); tests make their own
// instance over a temporary file.
//
// Main thread only. Writes reach the file at the latest when the instance is
// destroyed or `sync()` is called. A file that cannot be parsed reads as empty
// and is copied aside to "<file>.bad" before anything overwrites it.
class UserDefaults : public QObject
{
    Q_OBJECT

public:
    explicit UserDefaults(const QString &filePath, QObject *parent = nullptr);
    ~UserDefaults() override;

    // Created on first use and kept for the life of the process.
    static UserDefaults &standard();

    bool contains(const QString &key) const;

    std::optional<QString> string(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;
    std::optional<QStringList> stringArray(const QString &key) const;
    std::optional<QByteArray> data(const QString &key) const;

    void setString(const QString &key, const QString &value);
    void setBool(const QString &key, bool value);
    void setStringArray(const QString &key, const QStringList &value);
    void setData(const QString &key, const QByteArray &value);
    void remove(const QString &key);

    void sync();
    QString filePath() const;

Q_SIGNALS:
    void changed(const QString &key);

private:
    void write(const QString &key, const QVariant &value);

    std::unique_ptr<QSettings> m_settings;
};

} // namespace lumivale
