#include "LaunchCommand.h"

#include <algorithm>

EnvironmentLines parseEnvironmentLines(const QString &text)
{
    EnvironmentLines result;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringView line = lines.at(i);
        if (line.endsWith(u'\r'))
            line.chop(1);
        while (!line.isEmpty() && (line.front() == u' ' || line.front() == u'\t'))
            line = line.mid(1);
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QStringView name = equals < 0 ? QStringView() : line.left(equals);
        if (!ShellWords::isValidName(name) || line.contains(QChar(0))) {
            result.invalidLines << int(i + 1);
            continue;
        }
        EnvironmentVariable variable{name.toString(), line.mid(equals + 1).toString()};
        auto known = std::find_if(result.variables.begin(), result.variables.end(),
                                  [&](const auto &v) { return v.name == variable.name; });
        if (known != result.variables.end())
            known->value = variable.value;
        else
            result.variables << variable;
    }
    return result;
}

LaunchCommand launchCommand(const QString &gamePath, const QStringList &gameArguments,
                            const QString &wrapper, const QString &environment)
{
    LaunchCommand command;
    const ShellWords::Split split = ShellWords::split(wrapper);
    command.wrapperProblem = split.problem;
    if (split.problem == ShellWords::Problem::None)
        command.words << split.words << gamePath << gameArguments;
    const EnvironmentLines lines = parseEnvironmentLines(environment);
    command.environment = lines.variables;
    command.invalidEnvironmentLines = lines.invalidLines;
    return command;
}

QString shellCommandLine(const LaunchCommand &command)
{
    if (!command.canStart())
        return QString();
    QStringList line;
    for (const EnvironmentVariable &variable : command.environment)
        line << variable.name + u'=' + ShellWords::quote(variable.value);
    line << ShellWords::quoteCommandName(command.words.first());
    for (qsizetype i = 1; i < command.words.size(); ++i)
        line << ShellWords::quote(command.words.at(i));
    return line.join(u' ');
}
