#include "LogWriter.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

struct LogWriter::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    bool done = false;
    // Where toMain() delivers; null once the writer is going.
    QObject *main = nullptr;

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty())
                break;
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
        done = true;
        finished.notify_all();
    }
};

LogWriter::LogWriter() : m_state(std::make_shared<State>())
{
    m_state->main = new QObject;
    // The thread holds the state, not the writer: a stuck thread outlives the writer safely.
    std::thread([state = m_state] { state->run(); }).detach();
}

LogWriter::~LogWriter()
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_all();
    m_state->finished.wait_for(lock, std::chrono::milliseconds(StopWaitMs),
                               [this] { return m_state->done; });
    // Whatever was on its way to the main thread is dropped with the object that would take it.
    delete std::exchange(m_state->main, nullptr);
}

void LogWriter::post(std::function<void()> job)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->jobs.push_back(std::move(job));
    m_state->wake.notify_one();
}

LogWriter::Mailbox LogWriter::mailbox() const
{
    Mailbox mailbox;
    mailbox.m_state = m_state;
    return mailbox;
}

void LogWriter::Mailbox::toMain(std::function<void()> job) const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->main)
        QMetaObject::invokeMethod(m_state->main, std::move(job), Qt::QueuedConnection);
}
