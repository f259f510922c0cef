// The stand-in game's window program, started by `orvane` (execv, same process) in game mode with
// the very same argument vector. It records nothing: `orvane` has done that already.

#include "GameWindow.h"
#include "OrvaneOptions.h"

#include <QApplication>
#include <QDir>

#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // Parsed from the raw bytes before QApplication can take away arguments that Qt understands
    // (such as -style): the window shows what the game was given, not what Qt left of it.
    const std::vector<std::string> raw(argv + (argc > 0 ? 1 : 0), argv + argc);
    QStringList arguments;
    for (const std::string &argument : raw)
        arguments.append(QString::fromLocal8Bit(argument.data(), qsizetype(argument.size())));
    const OrvaneOptions options = parseOrvaneArguments(raw);

    QApplication app(argc, argv);
    GameWindow window(options, arguments, QDir::currentPath());
    window.show();
    return app.exec();
}
