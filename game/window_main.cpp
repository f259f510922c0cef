// The stand-in game's window program, started by `orvane` (execv, same process) in game mode with
// the very same argument vector. It records nothing: `orvane` has done that already.

#include "GameWindow.h"
#include "OrvaneOptions.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // The game's arguments are its own: Qt sees none of them, so that an extra option such as
    // "-platform" or "-style" cannot change or break the window.
    const std::vector<std::string> raw(argv + (argc > 0 ? 1 : 0), argv + argc);
    QStringList arguments;
    for (const std::string &argument : raw)
        arguments.append(QString::fromLocal8Bit(argument.data(), qsizetype(argument.size())));
    const OrvaneOptions options = parseOrvaneArguments(raw);

    char fallbackName[] = "orvane";
    char *qtArgv[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
    int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
    GameWindow window(options, arguments, QDir::currentPath());
    window.show();
    // The one line the game writes: whoever started it can tell that the window is up.
    std::printf("Orvane started: %s, %s\n", qPrintable(GameWindow::resolutionText(options)),
                qPrintable(GameWindow::displayModeText(options)));
    std::fflush(stdout);
    return app.exec();
}
