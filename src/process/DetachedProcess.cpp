#include "DetachedProcess.h"

#include "SpawnSetup.h"

#include "ChildWatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// A list of C strings ending in a null entry, as exec takes them, owning its bytes.
class CStringList
{
public:
    void append(QByteArray bytes) { m_storage.push_back(std::move(bytes)); }
    char **data()
    {
        m_pointers.clear();
        for (QByteArray &item : m_storage)
            m_pointers.push_back(item.data());
        m_pointers.push_back(nullptr);
        return m_pointers.data();
    }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char *> m_pointers;
};

SysResult<pid_t> spawn(const QByteArray &path, CStringList &arguments,
                       const QString &workingDirectory, char **environment);

} // namespace

namespace DetachedProcess {

SysResult<pid_t> start(const QString &program, const QStringList &arguments,
                       const QString &workingDirectory)
{
    const QByteArray path = QFile::encodeName(program);
    CStringList argv;
    argv.append(path);
    for (const QString &argument : arguments)
        argv.append(argument.toUtf8());
    return spawn(path, argv, workingDirectory, environ);
}

SysResult<pid_t> start(const QStringList &argv, const QString &workingDirectory,
                       const Environment &environment)
{
    if (argv.isEmpty())
        return SysResult<pid_t>::failure(ENOENT);
    // A path is left to the system, which says why it cannot start it.
    QString program = argv.first();
    if (!program.contains(u'/')) {
        program = findProgram(program, workingDirectory, environment);
        if (program.isEmpty())
            return SysResult<pid_t>::failure(ENOENT);
    }

    CStringList arguments;
    for (const QString &argument : argv)
        arguments.append(argument.toUtf8());

    CStringList variables;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray inherited(*entry);
        const QByteArray name = inherited.left(inherited.indexOf('='));
        const bool replaced =
            std::any_of(environment.begin(), environment.end(),
                        [&](const auto &added) { return added.first.toUtf8() == name; });
        if (!replaced)
            variables.append(inherited);
    }
    for (const auto &[name, value] : environment)
        variables.append(name.toUtf8() + '=' + value.toUtf8());

    return spawn(QFile::encodeName(program), arguments, workingDirectory, variables.data());
}

QString findProgram(const QString &program, const QString &workingDirectory,
                    const Environment &environment)
{
    if (program.isEmpty())
        return QString();
    if (program.contains(u'/')) {
        const QString path = QDir(workingDirectory).absoluteFilePath(program);
        const bool runs =
            QFileInfo(path).isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
        return runs ? path : QString();
    }
    QString searchPath = qEnvironmentVariable("PATH", QStringLiteral("/bin:/usr/bin"));
    for (const auto &[name, value] : environment) {
        if (name == u"PATH")
            searchPath = value;
    }
    return findOnPath(program, searchPath, workingDirectory);
}

QString findOnPath(const QString &name, const QString &searchPath, const QString &workingDirectory)
{
    const QDir base(workingDirectory);
    for (const QString &entry : searchPath.split(u':')) {
        const QString candidate =
            base.absoluteFilePath((entry.isEmpty() ? QStringLiteral(".") : entry) + u'/' + name);
        const QFileInfo info(candidate);
        if (info.isFile() && ::access(QFile::encodeName(candidate).constData(), X_OK) == 0)
            return candidate;
    }
    return QString();
}

} // namespace DetachedProcess

namespace {

SysResult<pid_t> spawn(const QByteArray &path, CStringList &arguments,
                       const QString &workingDirectory, char **environment)
{
    const QByteArray dir = QFile::encodeName(workingDirectory);

    SpawnSetup setup;
    // A session of its own and the default signal state: nothing of the launcher's carries over
    // into the game.
    setup.resetSignals(POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addchdir_np(&setup.actions, dir.constData());
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    pid_t pid = -1;
    const int result = posix_spawn(&pid, path.constData(), &setup.actions, &setup.attr,
                                   arguments.data(), environment);
    if (result != 0)
        return SysResult<pid_t>::failure(result);
    // Reaped once it ends, should the launcher still be running then.
    auto *watch = new ChildWatch(pid, QCoreApplication::instance());
    QObject::connect(watch, &ChildWatch::reaped, watch, &QObject::deleteLater);
    return pid;
}

} // namespace
