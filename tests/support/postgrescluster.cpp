#include "postgrescluster.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace lumivale::test {
namespace {

QString serverBinDirectory()
{
    QStringList versions =
        QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : versions) {
        const QString bin = u"/usr/lib/postgresql/%1/bin"_s.arg(version);
        if (QFileInfo::exists(bin + u"/initdb"_s) && QFileInfo::exists(bin + u"/pg_ctl"_s))
            return bin;
    }
    return {};
}

int freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

const bool kAsRoot = ::geteuid() == 0;

} // namespace

PostgresCluster::PostgresCluster()
    : m_bin(serverBinDirectory())
{}

PostgresCluster::~PostgresCluster()
{
    stop();
}

QString PostgresCluster::unavailableReason()
{
    if (serverBinDirectory().isEmpty())
        return u"PostgreSQL's server is not installed (Debian: postgresql-15); "
               "the PostgreSQL half of this suite does not run"_s;
    return {};
}

bool PostgresCluster::run(const QStringList &command)
{
    QStringList arguments = command;
    QString program = arguments.takeFirst();
    if (kAsRoot) {
        arguments = QStringList{u"-u"_s, u"nobody"_s, u"--"_s, program} + arguments;
        program = u"runuser"_s;
    }
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error =
            u"%1 failed: %2"_s.arg(command.first(), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool PostgresCluster::start()
{
    if (m_running)
        return true;
    if (m_bin.isEmpty()) {
        m_error = unavailableReason();
        return false;
    }
    const QString data = m_dir.path() + u"/data"_s;
    if (!m_created) {
        if (kAsRoot && ::chown(QFile::encodeName(m_dir.path()).constData(), 65534, 65534) != 0) {
            m_error = u"cannot give the cluster's folder to nobody"_s;
            return false;
        }
        if (!run({m_bin + u"/initdb"_s, u"-D"_s, data, u"-A"_s, u"trust"_s, u"-U"_s, u"lumivale"_s,
                  u"--no-sync"_s}))
            return false;
        m_port = freeLoopbackPort();
        m_created = true;
    }
    const QString options = u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                            "-c max_connections=300"_s.arg(m_port)
                                .arg(m_dir.path());
    m_running = run({m_bin + u"/pg_ctl"_s, u"-D"_s, data, u"-o"_s, options, u"-l"_s,
                     m_dir.path() + u"/server.log"_s, u"-w"_s, u"start"_s});
    return m_running;
}

bool PostgresCluster::stop()
{
    if (!m_running)
        return true;
    m_running = !run({m_bin + u"/pg_ctl"_s, u"-D"_s, m_dir.path() + u"/data"_s, u"-m"_s,
                      u"immediate"_s, u"-w"_s, u"stop"_s});
    return !m_running;
}

QString PostgresCluster::url() const
{
    return u"postgres://lumivale@127.0.0.1:%1/postgres"_s.arg(m_port);
}

} // namespace lumivale::test
