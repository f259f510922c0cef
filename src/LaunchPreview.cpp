#include "LaunchPreview.h"

#include "DetachedProcess.h"
#include "GameCommands.h"
#include "LauncherPaths.h"
#include "SettingsBinding.h"

#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <utility>

namespace {

QString wrapperProblemText(ShellWords::Problem problem)
{
    switch (problem) {
    case ShellWords::Problem::None:
        break;
    case ShellWords::Problem::UnmatchedSingleQuote:
        return LaunchPreview::tr("A single quote is not closed. Play cannot start the game.");
    case ShellWords::Problem::UnmatchedDoubleQuote:
        return LaunchPreview::tr("A double quote is not closed. Play cannot start the game.");
    case ShellWords::Problem::TrailingBackslash:
        return LaunchPreview::tr("A backslash ends the line. Play cannot start the game.");
    case ShellWords::Problem::NullCharacter:
        return LaunchPreview::tr("A null character cannot be passed on. Play cannot start the "
                                 "game.");
    }
    return QString();
}

// The wrapper's program, looked for as Play will look for it: on the PATH the environment lines
// set, or the launcher's. Empty when it is there, or when there is no wrapper.
QString wrapperProgramProblemText(const LaunchCommand &command)
{
    if (!command.canStart())
        return QString();
    const QString program = command.words.first();
    if (program == LauncherPaths::gameExecutable(command.workingDirectory))
        return QString();
    DetachedProcess::Environment environment;
    for (const EnvironmentVariable &variable : command.environment)
        environment.append({variable.name, variable.value});
    if (!DetachedProcess::findProgram(program, command.workingDirectory, environment).isEmpty())
        return QString();
    if (program.contains(u'/'))
        return LaunchPreview::tr("%1 is not a program that can be run. Play cannot start the "
                                 "game.")
            .arg(program);
    return LaunchPreview::tr("%1 is not found on PATH. Play cannot start the game.").arg(program);
}

QString environmentProblemText(const QList<int> &lines)
{
    if (lines.isEmpty())
        return QString();
    QStringList which;
    for (int line : lines)
        which << LaunchPreview::tr("line %1").arg(line);
    return LaunchPreview::tr("Not used, not NAME=value with a name of letters, digits and _: %1")
        .arg(which.join(QStringLiteral(", ")));
}

// The most of the command the preview lays out: a few times what its four lines show, so that
// a long command still reads as one, while a value of any length costs no more than this on
// every keystroke. Copy takes the whole command.
constexpr qsizetype MaxShown = 4096;

QString shownPart(const QString &line)
{
    if (line.size() <= MaxShown)
        return line;
    qsizetype cut = MaxShown;
    if (line.at(cut - 1).isHighSurrogate())
        --cut;
    return line.first(cut) + u'…';
}

void showProblem(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

// A text field `lines` lines high, frame included.
void fitLines(QPlainTextEdit *edit, int lines)
{
    const QFontMetrics metrics(edit->font());
    const int margins = int(2 * edit->document()->documentMargin()) + 2 * edit->frameWidth() +
                        edit->contentsMargins().top() + edit->contentsMargins().bottom();
    edit->setFixedHeight(lines * metrics.lineSpacing() + margins);
}

} // namespace

LaunchPreview::LaunchPreview(SettingsBinding *binding, const Widgets &widgets,
                             std::function<QString()> gameDirectory)
    : QObject(widgets.pane), m_gameDirectory(std::move(gameDirectory)), m_binding(binding),
      m_widgets(widgets)
{
    QPlainTextEdit *preview = m_widgets.preview;
    preview->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    preview->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    preview->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    fitLines(preview, 4);
    fitLines(m_widgets.environment, 3);
    showProblem(m_widgets.wrapperProblem, QString());
    showProblem(m_widgets.environmentProblem, QString());

    connect(binding, &SettingsBinding::edited, this, &LaunchPreview::refresh);
    connect(m_widgets.resolutions, &QComboBox::currentIndexChanged, this, &LaunchPreview::refresh);
    connect(m_widgets.copy, &QPushButton::clicked, this, &LaunchPreview::copy);
    m_widgets.pane->installEventFilter(this);
}

bool LaunchPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widgets.pane && event->type() == QEvent::Show)
        refresh();
    return QObject::eventFilter(watched, event);
}

void LaunchPreview::refresh()
{
    if (!m_binding)
        return;
    const QComboBox *list = m_widgets.resolutions;
    const LaunchCommand command =
        playCommand(m_gameDirectory(), list->currentIndex() < 0 ? QString() : list->currentText(),
                    m_binding->uncommittedText());
    show(command);
}

void LaunchPreview::show(const LaunchCommand &command)
{
    m_line = shellCommandLine(command);
    const QString shown = shownPart(m_line);
    // The widget's own text is not compared: it turns line and paragraph separators into line
    // breaks.
    if (shown != m_shown) {
        m_shown = shown;
        m_widgets.preview->setPlainText(shown);
    }
    m_widgets.copy->setEnabled(!m_line.isEmpty());
    QString wrapperProblem = wrapperProblemText(command.wrapperProblem);
    if (wrapperProblem.isEmpty())
        wrapperProblem = wrapperProgramProblemText(command);
    showProblem(m_widgets.wrapperProblem, wrapperProblem);
    showProblem(m_widgets.environmentProblem,
                environmentProblemText(command.invalidEnvironmentLines));
}

void LaunchPreview::copy()
{
    refresh();
    // The line made from the command's words, never the widget's text, which is cut short and
    // has line and paragraph separators and no-break spaces changed.
    if (!m_line.isEmpty())
        QGuiApplication::clipboard()->setText(m_line);
}
