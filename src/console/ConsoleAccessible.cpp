#include "ConsoleAccessible.h"

#include "ConsoleView.h"

#include <QApplication>
#include <QFontMetricsF>

#include <algorithm>
#include <utility>

namespace {

QAccessibleInterface *consoleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("ConsoleView") && object && object->isWidgetType())
        return new ConsoleAccessible(static_cast<ConsoleView *>(object));
    return nullptr;
}

// A stretch of the console's text that Qt's boundary rules read as a whole text of its own; they
// ask for nothing but its characters.
class TextWindow : public QAccessibleTextInterface
{
public:
    explicit TextWindow(QString text) : m_text(std::move(text)) {}

    QString text(int startOffset, int endOffset) const override
    {
        return m_text.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(m_text.size()); }

    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        return QString();
    }

private:
    QString m_text;
};

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

QString ConsoleAccessible::range(int startOffset, int endOffset) const
{
    const ConsoleModel &model = view()->model();
    QString out;
    int row = 0;
    int column = 0;
    if (!locate(startOffset, &row, &column))
        return out;
    out.reserve(endOffset - startOffset);
    for (int offset = startOffset; offset < endOffset; ++row, column = 0) {
        const QString &line = model.line(row);
        const int take = std::min(int(line.size()) - column, endOffset - offset);
        out += QStringView(line).sliced(column, take);
        offset += take;
        if (offset < endOffset) {
            out += QLatin1Char('\n');
            ++offset;
        }
    }
    return out;
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
    case QAccessible::Value: {
        const int count = characterCount();
        QString value = text(std::max(0, count - MaxTextLength), count);
        // A value cut short begins with a whole line where it can.
        const qsizetype feed = count > MaxTextLength ? value.indexOf(QLatin1Char('\n')) : -1;
        return feed >= 0 ? value.mid(feed + 1) : value;
    }
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
    const int count = characterCount();
    startOffset = qBound(0, startOffset, count);
    endOffset = endOffset < 0 ? count : qBound(startOffset, endOffset, count);
    return range(startOffset, std::min(endOffset, startOffset + MaxTextLength));
}

template <typename Question>
QString ConsoleAccessible::aroundOffset(int offset, int *startOffset, int *endOffset,
                                        Question question) const
{
    *startOffset = *endOffset = -1;
    if (offset == -1)
        offset = characterCount();
    int row = 0;
    int column = 0;
    if (!locate(offset, &row, &column))
        return QString();
    const ConsoleModel &model = view()->model();
    const int first = std::max(0, row - 1);
    const int last = std::min(model.lineCount() - 1, row + 1);
    const int from = offset - column - (first < row ? int(model.line(first).size()) + 1 : 0);
    int to = offset - column + int(model.line(row).size());
    if (last > row)
        to += 1 + int(model.line(last).size());
    const TextWindow window(range(from, to));
    const QString answer = question(window, offset - from, startOffset, endOffset);
    if (*startOffset >= 0) {
        *startOffset += from;
        *endOffset += from;
    }
    return answer;
}

QString ConsoleAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return aroundOffset(offset, startOffset, endOffset,
                        [boundaryType](const TextWindow &window, int at, int *start, int *end) {
                            return window.textBeforeOffset(at, boundaryType, start, end);
                        });
}

QString ConsoleAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int *startOffset, int *endOffset) const
{
    return aroundOffset(offset, startOffset, endOffset,
                        [boundaryType](const TextWindow &window, int at, int *start, int *end) {
                            return window.textAfterOffset(at, boundaryType, start, end);
                        });
}

QString ConsoleAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int *startOffset, int *endOffset) const
{
    return aroundOffset(offset, startOffset, endOffset,
                        [boundaryType](const TextWindow &window, int at, int *start, int *end) {
                            return window.textAtOffset(at, boundaryType, start, end);
                        });
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
    const qreal x = 2.0 + view()->advanceTo(row, column);
    const qreal width = column < line.size() ? 2.0 + view()->advanceTo(row, column + 1) - x
                                             : QFontMetricsF(view()->rowFont()).averageCharWidth();
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
    // The character under the point: the one that begins at or before it.
    const qreal x = local.x() - 2.0;
    const QString &line = model.line(row);
    int column = view()->columnAt(row, x);
    if (column > 0 && view()->advanceTo(row, column) > x) {
        --column;
        if (column > 0 && line.at(column).isLowSurrogate() && line.at(column - 1).isHighSurrogate())
            --column;
    }
    return offset + column;
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
