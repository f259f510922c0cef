#include "ProcStatus.h"

#include <QFile>

#include <sys/resource.h>

qint64 ProcStatus::field(const QString &file, const QByteArray &name)
{
    QFile status(file);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // The file is generated on read and is not seekable: read it whole, then look.
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith(name + ':'))
            continue;
        const QByteArray value = line.mid(name.size() + 1).trimmed();
        const qsizetype space = value.indexOf(' ');
        bool ok = false;
        const qint64 kib = value.left(space < 0 ? value.size() : space).toLongLong(&ok);
        return ok ? kib : -1;
    }
    return -1;
}

qint64 ProcStatus::residentKiB()
{
    return field(QStringLiteral("/proc/self/status"), "VmRSS");
}

qint64 ProcStatus::peakResidentKiB()
{
    return field(QStringLiteral("/proc/self/status"), "VmHWM");
}

bool ProcStatus::resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly))
        return false;
    return clearRefs.write("5") == 1;
}

qint64 ProcStatus::readCalls()
{
    return field(QStringLiteral("/proc/self/io"), "syscr");
}

qint64 ProcStatus::voluntarySwitches()
{
    return field(QStringLiteral("/proc/self/status"), "voluntary_ctxt_switches");
}

qint64 ProcStatus::processVoluntarySwitches()
{
    struct rusage usage = {};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    return usage.ru_nvcsw;
}
