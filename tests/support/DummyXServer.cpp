#include "DummyXServer.h"

#include "ProcessTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 60000;
constexpr int StopTimeoutMs = 10000;

// Both ends of a pipe, closed when the object goes; the write end is handed to the server.
class Pipe
{
public:
    Pipe()
    {
        if (::pipe2(m_fds, O_CLOEXEC) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    bool isValid() const { return m_fds[0] >= 0; }
    int readEnd() const { return m_fds[0]; }
    int writeEnd() const { return m_fds[1]; }
    void closeRead() { closeFd(m_fds[0]); }
    void closeWrite() { closeFd(m_fds[1]); }

private:
    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int m_fds[2] = {-1, -1};
};

// Reads the display number the server writes once it is ready; an empty answer means it died
// first (the pipe closed) or took too long.
QByteArray readDisplayNumber(int fd)
{
    QByteArray number;
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!number.endsWith('\n')) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[32];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        number.append(buffer, n);
    }
    return number.trimmed();
}

} // namespace

DummyXServer::DummyXServer() = default;

DummyXServer::~DummyXServer()
{
    stop();
}

QString DummyXServer::configPath()
{
    return QStringLiteral(VELMORA_DUMMY_XORG_CONF);
}

bool DummyXServer::start(QString *whyNot)
{
    const QString xorg = QStandardPaths::findExecutable(QStringLiteral("Xorg"));
    if (xorg.isEmpty()) {
        *whyNot = QStringLiteral("Xorg is not installed (packages xserver-xorg-core, "
                                 "xserver-xorg-video-dummy)");
        return false;
    }
    if (!m_workDir.isValid()) {
        *whyNot = QStringLiteral("no temporary folder for the server's log");
        return false;
    }
    Pipe ready;
    if (!ready.isValid()) {
        *whyNot = QStringLiteral("pipe() failed");
        return false;
    }
    const QString configDir = m_workDir.filePath(QStringLiteral("xorg.conf.d"));
    QDir().mkpath(configDir);

    const int readyFd = ready.writeEnd();
    // The write end is close-on-exec so no other child inherits it; only the server keeps it.
    m_process.setChildProcessModifier([readyFd] { ::fcntl(readyFd, F_SETFD, 0); });
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_workDir.filePath(QStringLiteral("stdout.txt")));
    m_process.start(
        xorg, {QStringLiteral("-config"), configPath(), QStringLiteral("-configdir"), configDir,
               QStringLiteral("-logfile"), m_workDir.filePath(QStringLiteral("Xorg.log")),
               QStringLiteral("-displayfd"), QString::number(readyFd), QStringLiteral("-noreset"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-novtswitch"),
               QStringLiteral("-sharevts")});
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        *whyNot = QStringLiteral("Xorg did not start: ") + m_process.errorString();
        return false;
    }
    ready.closeWrite();
    const QByteArray number = readDisplayNumber(ready.readEnd());
    if (number.isEmpty()) {
        *whyNot = QStringLiteral("Xorg did not come up:\n") +
                  ProcessTestSupport::logTail(m_workDir.filePath(QStringLiteral("Xorg.log")));
        stop();
        return false;
    }
    m_displayName = ':' + number;
    return true;
}

void DummyXServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(StopTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(StopTimeoutMs);
        }
    }
    m_displayName.clear();
}

bool DummyXServer::runXrandr(const QStringList &args, QByteArray *output, QString *whyNot) const
{
    return ProcessTestSupport::runTool(
        QStringLiteral("xrandr"),
        QStringList{QStringLiteral("-display"), QString::fromLatin1(m_displayName)} + args,
        QProcessEnvironment::systemEnvironment(), output, whyNot);
}

bool DummyXServer::enableSecondOutput(QString *whyNot)
{
    // DUMMY1 starts without modes of its own; it takes modes the server already knows.
    return runXrandr(
               {QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("1024x768")},
               nullptr, whyNot) &&
           runXrandr(
               {QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("800x600")},
               nullptr, whyNot) &&
           runXrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"),
                      QStringLiteral("--mode"), QStringLiteral("1024x768"),
                      QStringLiteral("--right-of"), QStringLiteral("DUMMY0")},
                     nullptr, whyNot);
}
