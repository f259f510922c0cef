#include "ServerRun.h"

#include "ChildWatch.h"
#include "PtyReader.h"
#include "UniqueFd.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

ServerRun::ForkPty forkPtyFunction = nullptr;

constexpr char LaunchFailure[] = "Error - can't launch server\n";
static_assert(sizeof(LaunchFailure) - 1 == 28, "the failure line is 28 bytes");

// Upper bound for the descriptor loop used when close_range() is missing; read before the fork
// because the child may only make async-signal-safe calls.
int highestDescriptorBound()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

// Everything below runs in the forked child of a possibly multi-threaded process: no
// allocation, no stdio, no locks.
[[noreturn]] void runChild(const char *path, char *const *argv, const char *cwd, int fdBound,
                           const sigset_t *emptyMask)
{
    ::sigprocmask(SIG_SETMASK, emptyMask, nullptr);
    ::signal(SIGPIPE, SIG_DFL);

    if (::chdir(cwd) != 0) {
        // The server is started in whatever directory we are in.
    }
    if (::close_range(3, UINT_MAX, 0) != 0) {
        for (int fd = 3; fd < fdBound; ++fd)
            ::close(fd);
    }
    ::execv(path, argv);

    const char *p = LaunchFailure;
    size_t left = sizeof(LaunchFailure) - 1;
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::_exit(0);
}

} // namespace

void ServerRun::setForkPty(ForkPty forkPty)
{
    forkPtyFunction = forkPty;
}

ServerRun::ServerRun(QObject *parent) : QObject(parent) {}

ServerRun::~ServerRun()
{
    if (m_writer)
        m_writer->close();
    if (m_reader)
        m_reader->close();
    if (m_watch)
        disconnect(m_watch, nullptr, this, nullptr);
    if (m_watch && !m_watch->tryReap()) {
        // Closing the master has hung up the child's terminal; hand the watch to the
        // application so the child is still reaped when it ends.
        if (QCoreApplication *app = QCoreApplication::instance()) {
            m_watch->setParent(app);
            connect(m_watch, &ChildWatch::reaped, m_watch, &QObject::deleteLater);
        }
    }
}

pid_t ServerRun::start(const QByteArray &path, const QList<QByteArray> &argv,
                       const QByteArray &workingDirectory)
{
    if (m_started)
        return -1;
    m_started = true;

    // Built in full before the fork: the QByteArrays own the bytes, the vector only points.
    std::vector<char *> args;
    args.reserve(static_cast<size_t>(argv.size()) + 2);
    if (argv.isEmpty())
        args.push_back(const_cast<char *>(path.constData()));
    for (const QByteArray &arg : argv)
        args.push_back(const_cast<char *>(arg.constData()));
    args.push_back(nullptr);
    const int fdBound = highestDescriptorBound();
    sigset_t emptyMask;
    sigemptyset(&emptyMask);

    int master = -1;
    const ForkPty fork = forkPtyFunction ? forkPtyFunction : &::forkpty;
    const pid_t pid = fork(&master, nullptr, nullptr, nullptr);
    if (pid == 0)
        runChild(path.constData(), args.data(), workingDirectory.constData(), fdBound, &emptyMask);
    if (pid < 0)
        return -1;

    m_pid = pid;
    m_reader = new PtyReader(UniqueFd(master), this);
    m_writer = new PtyWriter(m_reader->descriptor(), this);
    m_watch = new ChildWatch(pid, this);
    connect(m_reader, &PtyReader::readDone, this, [this](const QByteArray &data, bool failed) {
        if (failed)
            Q_EMIT readCompleted(this, m_decoder.finish(), Read::Failed);
        else if (data.isEmpty())
            Q_EMIT readCompleted(this, m_decoder.finish(), Read::End);
        else
            Q_EMIT readCompleted(this, m_decoder.decode(data), Read::Output);
    });
    connect(m_watch, &ChildWatch::reaped, this, &ServerRun::maybeFinish);
    return pid;
}

void ServerRun::readInBackgroundAndNotify()
{
    if (m_reader)
        m_reader->arm();
}

PtyWriter::Write ServerRun::writeInput(const QByteArray &bytes)
{
    return m_writer ? m_writer->write(bytes) : PtyWriter::Write::Closed;
}

qsizetype ServerRun::pendingInput() const
{
    return m_writer ? m_writer->pending() : 0;
}

void ServerRun::kill()
{
    if (m_watch)
        m_watch->sendKill();
}

void ServerRun::closeOutput()
{
    if (!m_reader || !m_reader->isOpen())
        return;
    m_writer->close();
    m_reader->close();
    maybeFinish();
}

bool ServerRun::isReaped() const
{
    return m_watch && m_watch->isReaped();
}

void ServerRun::maybeFinish()
{
    if (m_finishPosted || !m_reader || m_reader->isOpen() || !isReaped())
        return;
    m_finishPosted = true;
    // Posted, so that an owner deleting the run on finished() never does so from inside one of
    // the run's own calls.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(this); }, Qt::QueuedConnection);
}
