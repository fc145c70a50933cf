#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace lumivale::test {

IsolatedHome::IsolatedHome()
{
    for (const auto &[variable, name] :
         {std::pair{"XDG_CONFIG_HOME", u"config"_s}, std::pair{"XDG_CACHE_HOME", u"cache"_s},
          std::pair{"XDG_DATA_HOME", u"data"_s}, std::pair{"XDG_RUNTIME_DIR", u"runtime"_s}}) {
        QDir(m_dir.path()).mkpath(name);
        qputenv(variable, QFile::encodeName(m_dir.filePath(name)));
    }
    // The runtime folder must be the user's alone.
    QFile::setPermissions(m_dir.filePath(u"runtime"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

PrivateBus::PrivateBus()
{
    endWithThisProcess(m_daemon);
    m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(10000))
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    else
        qWarning("cannot start dbus-daemon (package dbus)");
}

PrivateBus::~PrivateBus()
{
    endProcess(m_daemon);
}

void endProcess(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(graceMs))
        process.kill();
    process.waitForFinished();
}

void endWithThisProcess(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
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
    return QStringLiteral(LUMIVALE_TEST_MEDIA_DIR "/") + name +
           (name.contains(u'.') ? QString() : u".mp4"_s);
}

} // namespace lumivale::test
