#include "stdoutcapture.h"

#include <QFile>
#include <cstdio>
#include <unistd.h>

namespace lumivale::test {

StdoutCapture::StdoutCapture()
{
    if (!m_file.open())
        qFatal("cannot make a file to capture standard output in");
    std::fflush(stdout);
    m_savedFd = ::dup(STDOUT_FILENO);
    ::dup2(m_file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(m_savedFd, STDOUT_FILENO);
    ::close(m_savedFd);
}

QByteArray StdoutCapture::text() const
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> StdoutCapture::lines() const
{
    QList<QByteArray> all = text().split('\n');
    if (!all.isEmpty() && all.constLast().isEmpty())
        all.removeLast();
    return all;
}

} // namespace lumivale::test
