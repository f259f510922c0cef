#pragma once

#include <QByteArray>

// This process's memory as the kernel reports it in /proc/self/status, in KiB, and two counters.
class ProcStatus
{
public:
    static qint64 residentKiB();     // VmRSS: resident now
    static qint64 peakResidentKiB(); // VmHWM: the high-water mark since start or resetPeak()
    // Restarts the high-water mark at the current resident size (writes "5" to
    // /proc/self/clear_refs). Answers false when the kernel refused, and then VmHWM still counts
    // from the start of the process.
    static bool resetPeak();
    // Counters for where a flood's CPU goes: read-type system calls of the whole process
    // (/proc/self/io syscr), and the main thread's voluntary context switches, each a wake-up
    // from a blocking wait.
    static qint64 readCalls();
    static qint64 voluntarySwitches();
    // Voluntary context switches of all the process's threads, also of those that have ended
    // (getrusage): less the main thread's, what the other threads (the server log's writer, Qt's
    // X event reader) cost in wake-ups.
    static qint64 processVoluntarySwitches();

private:
    static qint64 field(const QString &file, const QByteArray &name);
};
