// velmora-server: the dedicated server without a window, for a terminal, a service or a
// container. QtCore only: it needs no display.
#include "HostCommands.h"
#include "Translations.h"

#include <QCoreApplication>
#include <QSet>
#include <QStringList>

#include <algorithm>

#include <csignal>
#include <cstdio>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("velmora-server", text);
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QString help()
{
    return tr("Usage: velmora-server COMMAND [ARGUMENTS]\n"
              "Runs Velmora's dedicated server without a window, with the Server settings of "
              "velmora-launcher.\n"
              "\n"
              "Commands:\n"
              "  start [--detached]   start the server in a host that outlives this command (a "
              "systemd user\n"
              "                       unit where the user's manager runs; --detached: always a "
              "session of its\n"
              "                       own), and return once it runs\n"
              "  run                  run the host in the foreground, for service units and "
              "containers:\n"
              "                       output on standard output, SIGTERM and SIGINT stop the "
              "server\n"
              "  status               show whether a server runs; exit status 0 when one runs, "
              "3 when none does\n"
              "  send TEXT...         type one command line into the server\n"
              "  stop                 stop the server\n"
              "  attach [--protocol]  show the console's last 201 rows and follow it; the lines "
              "you type go\n"
              "                       to the server; end of input or Ctrl+C detaches and leaves "
              "it running.\n"
              "                       --protocol: speak the host's protocol on standard input "
              "and output;\n"
              "                       --start as well: start a host first where none runs, "
              "which starts its\n"
              "                       server with the settings the client sends (a launcher "
              "on another machine)\n"
              "\n"
              "Options:\n"
              "  -h, --help           show this help and exit\n"
              "  -v, --version        show the version and exit\n"
              "\n"
              "To start the server at boot: systemctl --user enable --now velmora-server, and "
              "loginctl enable-linger.\n");
}

int usage(const QString &problem)
{
    print(stderr, problem + u'\n' + tr("See velmora-server --help.") + u'\n');
    return HostCommands::Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    // Writes to a reader that has gone fail instead of ending the host; a log that reaches a
    // file-size limit fails that write, not the host and its server.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    installTranslations(app);

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return usage(tr("No command given."));
    const QString command = arguments.takeFirst();
    if (command == u"-h" || command == u"--help") {
        print(stdout, help());
        return HostCommands::Success;
    }
    if (command == u"-v" || command == u"--version") {
        print(stdout, QStringLiteral("velmora-server %1\n").arg(QStringLiteral(VELMORA_VERSION)));
        return HostCommands::Success;
    }
    const auto onlyOption = [&](const QString &option) {
        return arguments.isEmpty() || (arguments.size() == 1 && arguments.first() == option);
    };
    if (command == u"send") {
        if (arguments.isEmpty())
            return usage(tr("send needs the command line to type."));
        return HostCommands::send(arguments.join(u' '));
    }
    if (command == u"start" && onlyOption(QStringLiteral("--detached")))
        return HostCommands::start(!arguments.isEmpty());
    // Each option at most once, in any order.
    const auto options = [&](const QStringList &known) {
        return QSet<QString>(arguments.begin(), arguments.end()).size() == arguments.size() &&
               std::all_of(arguments.begin(), arguments.end(),
                           [&](const QString &argument) { return known.contains(argument); });
    };
    if (command == u"run" &&
        options({QStringLiteral("--detached"), QStringLiteral("--await-settings")}))
        return HostCommands::run(arguments.contains(QStringLiteral("--detached")),
                                 arguments.contains(QStringLiteral("--await-settings")));
    if (command == u"attach" && onlyOption(QStringLiteral("--protocol")))
        return HostCommands::attach(!arguments.isEmpty());
    // For a window on another machine: a host is started first where none runs, and starts its
    // server with the settings the window sends.
    if (command == u"attach" &&
        options({QStringLiteral("--protocol"), QStringLiteral("--start")}) &&
        arguments.contains(QStringLiteral("--protocol")))
        return HostCommands::attach(true, arguments.contains(QStringLiteral("--start")));
    if (command == u"status" && arguments.isEmpty())
        return HostCommands::status();
    if (command == u"stop" && arguments.isEmpty())
        return HostCommands::stop();
    if (QStringList{QStringLiteral("start"), QStringLiteral("run"), QStringLiteral("attach"),
                    QStringLiteral("status"), QStringLiteral("stop")}
            .contains(command))
        return usage(tr("%1 does not take %2.").arg(command, arguments.join(u' ')));
    return usage(tr("Unknown command %1.").arg(command));
}
