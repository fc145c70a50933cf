#include "error.h"

#include <QMutex>
#include <cstdio>

namespace lumivale {

Error::Error(QString domain, int code, QString description)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
{}

QString Error::debugText() const
{
    return QStringLiteral("%1 %2: %3").arg(m_domain).arg(m_code).arg(m_description);
}

void logLine(QStringView text)
{
    static QMutex mutex;
    const QByteArray line = (text.toString() + u'\n').toUtf8();
    const QMutexLocker lock(&mutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void logFailure(QStringView prefix, const Error &error)
{
    logLine(QString(prefix.toString() + u' ' + error.description()));
}

} // namespace lumivale
