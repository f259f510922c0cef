#include "ConsoleAccessible.h"

#include "ConsoleView.h"

#include <QApplication>
#include <QFontMetricsF>

namespace {

QAccessibleInterface *consoleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("ConsoleView") && object && object->isWidgetType())
        return new ConsoleAccessible(static_cast<ConsoleView *>(object));
    return nullptr;
}

} // namespace

ConsoleAccessible::ConsoleAccessible(ConsoleView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{}

void ConsoleAccessible::installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(consoleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

ConsoleView *ConsoleAccessible::view() const
{
    return static_cast<ConsoleView *>(widget());
}

QString ConsoleAccessible::allText() const
{
    return view()->lines().join(QLatin1Char('\n'));
}

QAccessible::State ConsoleAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.editable = false;
    return s;
}

QString ConsoleAccessible::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Value:
        return allText();
    case QAccessible::Description: {
        const int n = view()->lineCount();
        return n == 1 ? ConsoleView::tr("1 line") : ConsoleView::tr("%1 lines").arg(n);
    }
    default:
        return QAccessibleWidget::text(t);
    }
}

void *ConsoleAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

void ConsoleAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
    const ConsoleSelection &selection = view()->selection();
    if (selectionIndex != 0 || selection.isEmpty())
        return;
    *startOffset = ConsoleSelection::offsetOf(view()->model(), selection.begin());
    *endOffset = ConsoleSelection::offsetOf(view()->model(), selection.end());
}

int ConsoleAccessible::selectionCount() const
{
    return view()->selection().isEmpty() ? 0 : 1;
}

void ConsoleAccessible::addSelection(int startOffset, int endOffset)
{
    view()->selectOffsets(startOffset, endOffset);
}

void ConsoleAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void ConsoleAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->selectOffsets(startOffset, endOffset);
}

int ConsoleAccessible::cursorPosition() const
{
    const ConsoleSelection &selection = view()->selection();
    return selection.isEmpty() ? 0
                               : ConsoleSelection::offsetOf(view()->model(), selection.cursor());
}

void ConsoleAccessible::setCursorPosition(int)
{
    view()->clearSelection();
}

QString ConsoleAccessible::text(int startOffset, int endOffset) const
{
    const QString all = allText();
    startOffset = qBound(0, startOffset, int(all.size()));
    endOffset = endOffset < 0 ? int(all.size()) : qBound(startOffset, endOffset, int(all.size()));
    return all.mid(startOffset, endOffset - startOffset);
}

int ConsoleAccessible::characterCount() const
{
    const ConsoleModel &model = view()->model();
    int count = model.lineCount() > 0 ? model.lineCount() - 1 : 0; // the joining line feeds
    for (int i = 0; i < model.lineCount(); ++i)
        count += int(model.line(i).size());
    return count;
}

bool ConsoleAccessible::locate(int offset, int *row, int *column) const
{
    const ConsoleModel &model = view()->model();
    if (offset < 0)
        return false;
    for (int i = 0; i < model.lineCount(); ++i) {
        const int length = int(model.line(i).size());
        if (offset <= length) {
            *row = i;
            *column = offset;
            return true;
        }
        offset -= length + 1;
    }
    return false;
}

QRect ConsoleAccessible::characterRect(int offset) const
{
    int row = 0;
    int column = 0;
    if (!locate(offset, &row, &column))
        return QRect();
    const QString &line = view()->model().line(row);
    const QFontMetricsF metrics(ConsoleView::textFont());
    const qreal x = 2.0 + metrics.horizontalAdvance(line.left(column));
    const qreal width = column < line.size() ? metrics.horizontalAdvance(line.at(column))
                                             : metrics.averageCharWidth();
    const QRectF local(x, ConsoleModel::RowHeight * row, width, ConsoleModel::RowHeight);
    return QRect(view()->mapToGlobal(local.topLeft().toPoint()), local.size().toSize());
}

int ConsoleAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = view()->mapFromGlobal(point);
    const ConsoleModel &model = view()->model();
    const int row = local.y() < 0 ? -1 : int(local.y() / ConsoleModel::RowHeight);
    if (row < 0 || row >= model.lineCount())
        return -1;
    int offset = 0;
    for (int i = 0; i < row; ++i)
        offset += int(model.line(i).size()) + 1;
    const QString &line = model.line(row);
    const QFontMetricsF metrics(ConsoleView::textFont());
    qreal x = 2.0;
    for (int column = 0; column < line.size(); ++column) {
        x += metrics.horizontalAdvance(line.at(column));
        if (local.x() < x)
            return offset + column;
    }
    return offset + int(line.size());
}

void ConsoleAccessible::scrollToSubstring(int startIndex, int)
{
    int row = 0;
    int column = 0;
    if (locate(startIndex, &row, &column))
        view()->scrollRectToVisible(QRectF(0.0, ConsoleModel::RowHeight * row,
                                           ConsoleModel::FrameWidth, ConsoleModel::RowHeight));
}

QString ConsoleAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = offset;
    *endOffset = offset;
    return QString();
}
