#pragma once

#include <functional>
#include <memory>

// The thread on which every server log is written, so that a slow or full disk never holds up
// the window. Jobs run in the order they were posted. The thread is owned here and ended here:
// the destructor lets every job posted so far finish, waiting at most StopWaitMs for a write
// stuck on a dead disk, after which the thread is left to end with the process (it owns nothing
// of the caller's by then).
//
// Made and destroyed on the main thread, which is also where toMain() delivers.
class LogWriter
{
public:
    LogWriter();
    ~LogWriter();
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    static constexpr int StopWaitMs = 5000;

    // Runs `job` on the writer's thread.
    void post(std::function<void()> job);
    struct State;
    // The way back to the main thread, for jobs to keep: it stays safe to use after the writer
    // has gone, and then delivers nothing.
    class Mailbox
    {
    public:
        // Runs `job` on the main thread from its event loop; callable from any thread.
        void toMain(std::function<void()> job) const;

    private:
        friend class LogWriter;
        std::shared_ptr<State> m_state;
    };
    Mailbox mailbox() const;

private:
    std::shared_ptr<State> m_state;
};
