#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <sys/types.h>

struct termios;
struct winsize;

#include "ChildWatch.h"
#include "PtyWriter.h"
#include "Utf8ChunkDecoder.h"

#include <optional>

class PtyReader;

// One dedicated-server child on its own pseudo-terminal, from forkpty to the last byte of its
// output and the reaping of the process. One object per run: a stopped run keeps draining its
// output while a newer run is already alive, and each object reports only its own reads.
//
// Lifecycle for the owner: start(); readInBackgroundAndNotify() once, and again after each
// chunk has been handled; at the end of output, closeOutput(); delete the object once
// finished() has come (or right away when start() returned -1). Deleting it earlier ends the
// run's process group and gives up its remaining output; the child is still reaped once it ends,
// provided the application object is alive.
//
// The child is the leader of a session and a process group of its own (forkpty made it so), and
// the run ends that whole group. The child is kept unreaped until the output is closed: while it
// is a zombie its id cannot be reused, so the group's id names this run's processes and no
// others for as long as kill() may signal it. A child that outlives the launcher is killed by
// the kernel (parent-death signal).
class ServerRun : public QObject
{
    Q_OBJECT
public:
    using ForkPty = pid_t (*)(int *master, char *name, const struct termios *termp,
                              const struct winsize *winp);
    // Test seam: the function that makes the child on a new pseudo-terminal; nullptr restores
    // ::forkpty.
    static void setForkPty(ForkPty forkPty);

    explicit ServerRun(QObject *parent = nullptr);
    ~ServerRun() override;

    // Runs `path` with `argv` (argv[0] included) in `workingDirectory` on a new
    // pseudo-terminal, with the launcher's environment. Returns the child's pid, or -1 when no
    // child was made (then nothing is left open). Only the first call on an object acts.
    pid_t start(const QByteArray &path, const QList<QByteArray> &argv,
                const QByteArray &workingDirectory);
    // Whether the terminal echoes what is written to it, as terminals do unless told otherwise.
    // Takes effect at start(), before anything can be written.
    void setEcho(bool echo) { m_echo = echo; }
    pid_t pid() const { return m_pid; }
    // Requests one read of what the terminal holds (up to 256 KiB); readCompleted follows from the
    // event loop. A request
    // while one is pending, or after closeOutput(), does nothing.
    void readInBackgroundAndNotify();
    // Writes to the server's terminal without blocking (see PtyWriter): Closed before start(),
    // after closeOutput() and once the terminal has failed.
    PtyWriter::Write writeInput(const QByteArray &bytes);
    // Bytes given to writeInput() that the terminal has not taken yet.
    qsizetype pendingInput() const;
    // SIGKILL to the child's whole process group (children and grandchildren that stayed in it)
    // unless the child has been reaped already, which happens only after closeOutput().
    void kill();
    // SIGTERM to the same group on the same terms: a request to end, which the server may take
    // its time over or ignore.
    void terminate();
    // Closes the pseudo-terminal master; later calls do nothing. The child is reaped from then
    // on, as soon as it has ended; the run's group is not signalled any more.
    void closeOutput();
    bool isReaped() const;
    bool isOutputOpen() const;
    // How the child ended, once it has; absent while it runs.
    std::optional<ExitStatus> exitStatus() const;
    // How the child ended when it ended by itself: absent while it runs, and when it died of a
    // SIGKILL that kill() sent before it had ended.
    std::optional<ExitStatus> ownExitStatus() const;

    // How a read ended: with output (whose text may be empty while a character is incomplete),
    // at the end of output, or with a failure that ends the output too.
    enum class Read
    {
        Output,
        End,
        Failed
    };

Q_SIGNALS:
    // One requested read, decoded as UTF-8 across this run's reads (see Utf8ChunkDecoder). At
    // End or Failed, `text` holds what was still held back (a cut-off character shows as
    // U+FFFD rather than vanishing). Receivers may re-arm or close the run but must not delete
    // it here.
    void readCompleted(ServerRun *run, const QString &text, ServerRun::Read read);
    // Once, when the child has ended (its output may still be flowing from its descendants).
    void serverExited(ServerRun *run);
    // Once, posted to the event loop after the output is closed and the child reaped.
    void finished(ServerRun *run);

private:
    void maybeFinish();

    pid_t m_pid = -1;
    PtyReader *m_reader = nullptr;
    PtyWriter *m_writer = nullptr; // shares the reader's descriptor; closed before it
    ChildWatch *m_watch = nullptr;
    bool m_started = false;
    bool m_finishPosted = false;
    bool m_killedBeforeExit = false;
    bool m_echo = true;
    Utf8ChunkDecoder m_decoder;
};
