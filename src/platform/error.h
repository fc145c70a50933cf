#pragma once

#include <QMetaType>
#include <QString>
#include <tl/expected.hpp>

namespace lumivale {

// A failure as the rest of the system sees it: a domain that names the subsystem
// ("VideoCache", "WallpaperManager", ...), an integer code and a description a
// person can read. Errors from the platform layer pass through unchanged.
//
// A plain value type: copy it freely, from any thread.
class Error
{
public:
    Error() = default;
    Error(QString domain, int code, QString description);

    const QString &domain() const { return m_domain; }
    int code() const { return m_code; }
    const QString &description() const { return m_description; }

    // "domain code: description", for test output and debugging.
    QString debugText() const;

    friend bool operator==(const Error &, const Error &) = default;

private:
    QString m_domain;
    int m_code = 0;
    QString m_description;
};

// What work that can fail gives back: its value, or the Error that stopped it.
// `Result<>` is the outcome of work that has no value. Its interface is
// std::expected's.
template<typename T = void> using Result = tl::expected<T, Error>;

// The failing side of a Result: `return failure(domain, code, description);`.
inline tl::unexpected<Error> failure(QString domain, int code, QString description)
{
    return tl::unexpected<Error>(Error(std::move(domain), code, std::move(description)));
}
inline tl::unexpected<Error> failure(Error error)
{
    return tl::unexpected<Error>(std::move(error));
}

// Writes the single line a background failure leaves: `prefix` (lower case,
// ending in a colon, for example "restore failed:"), a space and the error's
// description, to standard output. Safe from any thread; each line is written
// whole.
void logFailure(QStringView prefix, const Error &error);
// Writes one whole line to standard output, the same way.
void logLine(QStringView text);

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::Error)
