#include "LaunchPreview.h"

#include "GameCommands.h"
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
    const QString line = shellCommandLine(command);
    if (m_widgets.preview->toPlainText() != line)
        m_widgets.preview->setPlainText(line);
    m_widgets.copy->setEnabled(!line.isEmpty());
    showProblem(m_widgets.wrapperProblem, wrapperProblemText(command.wrapperProblem));
    showProblem(m_widgets.environmentProblem,
                environmentProblemText(command.invalidEnvironmentLines));
}

void LaunchPreview::copy()
{
    refresh();
    const QString line = m_widgets.preview->toPlainText();
    if (!line.isEmpty())
        QGuiApplication::clipboard()->setText(line);
}
