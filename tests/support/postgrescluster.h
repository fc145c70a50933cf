#pragma once

#include <QString>
#include <QTemporaryDir>

namespace lumivale::test {

// A private PostgreSQL server for one test process: a fresh cluster in a
// temporary folder, listening on a free loopback port, owned by the user
// running the test or, under root (which PostgreSQL refuses), by "nobody".
// It is stopped and deleted with the object.
class PostgresCluster
{
public:
    PostgresCluster();
    ~PostgresCluster();

    // Whether PostgreSQL's server programs are installed; why not, if not.
    static QString unavailableReason();

    // Creates and starts the cluster; false, with the reason in error(), when
    // that fails.
    bool start();
    bool stop();
    QString error() const { return m_error; }

    // postgres://… for lumivale-catalog's --db.
    QString url() const;

private:
    bool run(const QStringList &command);

    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_created = false;
    bool m_running = false;
    QString m_error;
};

} // namespace lumivale::test
