#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

// Written only outside any handler's run (set before the handlers, cleared after them).
volatile sig_atomic_t wakeFd = -1;

void onSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up; the byte may go.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read.reset(fds[0]);
    m_write.reset(fds[1]);
    wakeFd = m_write.get();

    m_notifier = new QSocketNotifier(m_read.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::onReadable);

    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_active = true;
    for (std::size_t i = 0; i < std::size(Signals); ++i) {
        // A signal ignored from the start (the launcher run under nohup, say) stays ignored.
        if (::sigaction(Signals[i], nullptr, &m_previous[i]) != 0)
            m_active = false;
        else if (m_previous[i].sa_handler != SIG_IGN &&
                 ::sigaction(Signals[i], &action, nullptr) != 0)
            m_active = false;
    }
    if (!m_active)
        restore();
}

TerminationSignals::~TerminationSignals()
{
    restore();
}

void TerminationSignals::restore()
{
    if (wakeFd < 0)
        return;
    for (std::size_t i = 0; i < std::size(Signals); ++i)
        ::sigaction(Signals[i], &m_previous[i], nullptr);
    wakeFd = -1;
}

void TerminationSignals::onReadable()
{
    unsigned char number = 0;
    ssize_t n;
    do {
        n = ::read(m_read.get(), &number, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1 || wakeFd < 0)
        return;
    restore();
    m_notifier->setEnabled(false);
    Q_EMIT received(int(number));
}
