#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

using namespace Qt::StringLiterals;

namespace lumivale::test {

IsolatedHome::IsolatedHome()
{
    for (const char *name : {"config", "cache", "data", "runtime"}) {
        QDir(m_dir.path()).mkpath(QString::fromLatin1(name));
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + u"/config"_s));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.path() + u"/cache"_s));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + u"/data"_s));
    const QString runtime = m_dir.path() + u"/runtime"_s;
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

PrivateBus::PrivateBus()
{
    m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(10000))
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    else
        qWarning("cannot start dbus-daemon (package dbus)");
}

PrivateBus::~PrivateBus()
{
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
}

double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return double(sum) / (3.0 * a.width() * a.height());
}

QString mediaPath(const QString &name)
{
    const QString dir = QStringLiteral(LUMIVALE_TEST_MEDIA_DIR);
    return name.contains(u'.') ? dir + u'/' + name : dir + u'/' + name + u".mp4"_s;
}

} // namespace lumivale::test
