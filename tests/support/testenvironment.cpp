#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>

namespace lumivale::test {

IsolatedHome::IsolatedHome()
{
    for (const char *name : {"config", "cache", "data", "runtime"}) {
        QDir(m_dir.path()).mkpath(QString::fromLatin1(name));
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/data")));
    const QString runtime = m_dir.path() + QStringLiteral("/runtime");
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

QString mediaPath(const QString &name)
{
    const QString dir = QStringLiteral(LUMIVALE_TEST_MEDIA_DIR);
    return name.contains(u'.') ? dir + u'/' + name : dir + u'/' + name + QStringLiteral(".mp4");
}

} // namespace lumivale::test
