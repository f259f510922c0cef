#include "DetachedProcess.h"

#include "ChildWatch.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <spawn.h>
#include <vector>

extern char **environ;

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
struct SpawnSetup
{
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup()
    {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

} // namespace

namespace DetachedProcess {

pid_t start(const QString &program, const QStringList &arguments, const QString &workingDirectory,
            int *error)
{
    const QByteArray path = QFile::encodeName(program);
    const QByteArray dir = QFile::encodeName(workingDirectory);
    std::vector<QByteArray> storage;
    storage.reserve(size_t(arguments.size()) + 1);
    storage.push_back(path);
    for (const QString &argument : arguments)
        storage.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    // A session of its own, default signal handling and an empty signal mask: nothing of the
    // launcher's signal state carries over into the game.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGTERM, SIGQUIT})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    posix_spawnattr_setflags(&setup.attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addchdir_np(&setup.actions, dir.constData());
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    pid_t pid = -1;
    const int result =
        posix_spawn(&pid, path.constData(), &setup.actions, &setup.attr, argv.data(), environ);
    if (error)
        *error = result;
    if (result != 0)
        return -1;
    // Reaped once it ends, should the launcher still be running then.
    auto *watch = new ChildWatch(pid, QCoreApplication::instance());
    QObject::connect(watch, &ChildWatch::reaped, watch, &QObject::deleteLater);
    return pid;
}

} // namespace DetachedProcess
