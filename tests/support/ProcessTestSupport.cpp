#include "ProcessTestSupport.h"

#include "ServerRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>

#include <dirent.h>
#include <unistd.h>

namespace ProcessTestSupport {

QString writeScript(const QString &dir, const QString &name, const QByteArray &body)
{
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool runTool(const QString &program, const QStringList &args, const QProcessEnvironment &env,
             QByteArray *output, QString *whyNot)
{
    // Generous: the machine may be busy with other builds.
    constexpr int ToolTimeoutMs = 30000;
    QProcess tool;
    tool.setProcessEnvironment(env);
    tool.start(program, args);
    if (!tool.waitForFinished(ToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        *whyNot = QStringLiteral("%1 %2 failed: %3 %4")
                      .arg(program, args.join(QLatin1Char(' ')), tool.errorString(),
                           QString::fromLocal8Bit(tool.readAllStandardError()));
        if (tool.state() != QProcess::NotRunning) {
            tool.kill();
            tool.waitForFinished();
        }
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return true;
}

QByteArray readFirstLine(QProcess &process, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine() && !deadline.hasExpired() &&
           process.state() != QProcess::NotRunning)
        process.waitForReadyRead(100);
    return process.readLine().trimmed();
}

QString logTail(const QString &path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log at %1)").arg(path);
    const QList<QByteArray> lines = log.readAll().split('\n');
    return QString::fromLocal8Bit(lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join('\n'));
}

QMap<int, QString> openDescriptors()
{
    QMap<int, QString> result;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return result;
    while (dirent *entry = ::readdir(dir)) {
        bool ok = false;
        const int fd = QByteArray(entry->d_name).toInt(&ok);
        if (!ok || fd == ::dirfd(dir))
            continue;
        char target[4096] = {};
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
        if (::readlink(link.constData(), target, sizeof target - 1) < 0)
            continue;
        result.insert(fd, QString::fromLocal8Bit(target));
    }
    ::closedir(dir);
    return result;
}

QMap<pid_t, char> childProcesses()
{
    QMap<pid_t, char> result;
    const pid_t self = ::getpid();
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() < 2 || rest.at(1).toInt() != self)
            continue;
        result.insert(pid, rest.at(0).isEmpty() ? '?' : rest.at(0).at(0));
    }
    return result;
}

bool processDead(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.isEmpty() || line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

ProbeReport readProbeReport(const QString &path)
{
    ProbeReport report;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return report;
    QList<QByteArray> fields = file.readAll().split('\0');
    QList<QByteArray> *section = nullptr;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QByteArray &f = fields.at(i);
        if (f == "argv") {
            section = &report.argv;
        } else if (f == "cwd" && i + 1 < fields.size()) {
            report.cwd = fields.at(++i);
            section = nullptr;
        } else if (f == "fds") {
            section = &report.descriptors;
        } else if (f == "end") {
            report.complete = true;
            break;
        } else if (section) {
            section->append(f);
        }
    }
    return report;
}

RunLog::RunLog(ServerRun *run_, bool rearm_, bool closeAtEnd_)
    : run(run_), rearm(rearm_), closeAtEnd(closeAtEnd_)
{
    QObject::connect(run, &ServerRun::readCompleted, run,
                     [this](ServerRun *from, const QString &chunk, ServerRun::Read read) {
                         if (from != run) {
                             ++foreignReports;
                             return;
                         }
                         text += chunk;
                         if (read == ServerRun::Read::Failed) {
                             ++failures;
                             run->closeOutput();
                             return;
                         }
                         if (read == ServerRun::Read::End) {
                             ++ends;
                             if (closeAtEnd)
                                 run->closeOutput();
                             return;
                         }
                         if (ends > 0)
                             dataAfterEnd = true;
                         ++reads;
                         if (rearm)
                             run->readInBackgroundAndNotify();
                     });
    QObject::connect(run, &ServerRun::finished, run, [this](ServerRun *from) {
        if (from != run)
            ++foreignReports;
        ++finishes;
    });
}

} // namespace ProcessTestSupport
