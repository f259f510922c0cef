#include "ServerRun.h"

#include "ChildWatch.h"
#include "PtyReader.h"
#include "UniqueFd.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

ServerRun::ForkPty forkPtyFunction = nullptr;

constexpr char LaunchFailure[] = "Error - can't launch server\n";
static_assert(sizeof(LaunchFailure) - 1 == 28, "the failure line is 28 bytes");
// A server that could not be executed must not read as one that exited normally: the shell's
// status for a command that cannot be run.
constexpr int ExecFailureStatus = 127;

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
                           const sigset_t *emptyMask, pid_t launcher)
{
    // The server dies with the launcher, however the launcher ends. Set before the check: a
    // launcher that was gone already has made us the child of another process.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != launcher)
        ::_exit(ExecFailureStatus);
    ::sigprocmask(SIG_SETMASK, emptyMask, nullptr);
    // Handlers do not survive exec, but ignored signals would: the launcher's own choices must
    // not reach the server.
    for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGXFSZ})
        ::signal(sig, SIG_DFL);

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
    ::_exit(ExecFailureStatus);
}

// The groups of the runs whose child is still unreaped. A launcher that ends through exit()
// without unwinding (Qt does so when the display connection is lost) kills them on the way out,
// so that descendants that ignore the hang-up go too. Built before the exit handler is
// registered, so it is destroyed only after the handler has run.
std::vector<pid_t> &liveGroups()
{
    static std::vector<pid_t> groups;
    static const bool registered = [] {
        return std::atexit([] {
                   for (pid_t group : liveGroups())
                       ::kill(-group, SIGKILL);
               }) == 0;
    }();
    Q_UNUSED(registered);
    return groups;
}

void forgetGroup(pid_t group)
{
    std::vector<pid_t> &groups = liveGroups();
    groups.erase(std::remove(groups.begin(), groups.end(), group), groups.end());
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
    if (m_watch) {
        disconnect(m_watch, nullptr, this, nullptr);
        forgetGroup(m_pid);
        m_watch->killGroup();
        m_watch->release();
    }
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
    const pid_t launcher = ::getpid();

    int master = -1;
    const ForkPty fork = forkPtyFunction ? forkPtyFunction : &::forkpty;
    const pid_t pid = fork(&master, nullptr, nullptr, nullptr);
    if (pid == 0)
        runChild(path.constData(), args.data(), workingDirectory.constData(), fdBound, &emptyMask,
                 launcher);
    if (pid < 0)
        return -1;
    // Set through the master before anything is written to it; on Linux that is the terminal's
    // own setting, which the child shares.
    struct termios settings = {};
    if (!m_echo && ::tcgetattr(master, &settings) == 0) {
        settings.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(master, TCSANOW, &settings);
    }

    m_pid = pid;
    m_reader = new PtyReader(UniqueFd(master), this);
    m_writer = new PtyWriter(m_reader->descriptor(), this);
    m_watch = new ChildWatch(pid, this);
    m_watch->hold();
    connect(m_reader, &PtyReader::readDone, this, [this](const QByteArray &data, bool failed) {
        if (failed)
            Q_EMIT readCompleted(this, m_decoder.finish(), Read::Failed);
        else if (data.isEmpty())
            Q_EMIT readCompleted(this, m_decoder.finish(), Read::End);
        else
            Q_EMIT readCompleted(this, m_decoder.decode(data), Read::Output);
    });
    connect(m_watch, &ChildWatch::exited, this, [this] { Q_EMIT serverExited(this); });
    connect(m_watch, &ChildWatch::reaped, this, [this] {
        forgetGroup(m_pid);
        maybeFinish();
    });
    liveGroups().push_back(pid);
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
    if (!m_watch)
        return;
    // Noticed now rather than at the next event-loop pass, so that an end of its own that came
    // first is not taken for ours.
    m_watch->tryReap();
    if (m_watch->killGroup() && !m_watch->exitStatus())
        m_killedBeforeExit = true;
}

void ServerRun::terminate()
{
    if (m_watch)
        m_watch->signalGroup(SIGTERM);
}

void ServerRun::closeOutput()
{
    if (!m_reader || !m_reader->isOpen())
        return;
    m_writer->close();
    m_reader->close();
    // From here on the run's group is not signalled again: the child may go.
    m_watch->release();
    maybeFinish();
}

bool ServerRun::isReaped() const
{
    return m_watch && m_watch->isReaped();
}

bool ServerRun::isOutputOpen() const
{
    return m_reader && m_reader->isOpen();
}

std::optional<ExitStatus> ServerRun::exitStatus() const
{
    return m_watch ? m_watch->exitStatus() : std::nullopt;
}

std::optional<ExitStatus> ServerRun::ownExitStatus() const
{
    const std::optional<ExitStatus> status = exitStatus();
    if (status && m_killedBeforeExit && *status == ExitStatus{true, SIGKILL})
        return std::nullopt;
    return status;
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
