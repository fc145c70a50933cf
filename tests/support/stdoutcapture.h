#pragma once

#include <QByteArray>
#include <QTemporaryFile>

namespace lumivale::test {

// Sends this process's standard output into a temporary file while it lives,
// so a test can read the log lines the code under test wrote. Not nestable.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    // Everything written since the capture began.
    QByteArray text() const;
    QList<QByteArray> lines() const;

private:
    QTemporaryFile m_file;
    int m_savedFd = -1;
};

} // namespace lumivale::test
