#include "ConsoleView.h"

#include "ConsoleAccessible.h"
#include "NewRowsButton.h"
#include "VScroller.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

QEvent::Type applyEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

} // namespace

QFont ConsoleView::textFont()
{
    // Ten of the desktop's logical units, as a 10-point font is where points and pixels are one:
    // its line fits the 12-pixel rows. A 10-point font at 96 dots per inch is over 13 pixels
    // high and would spill into the next row and past the last one.
    QFont font = QApplication::font();
    font.setPixelSize(10);
    return font;
}

namespace {

QFont boldOf(QFont font)
{
    font.setBold(true);
    return font;
}

// Behind selected text: the console's green, dimmed, so that every text colour stays readable.
const QColor SelectionColour(51, 110, 51);

// Where every line's text begins.
constexpr qreal TextLeft = 2.0;

// The first of `spans` (in order, not overlapping) that ends past `column`.
StyleSpans::const_iterator firstSpanAfter(const StyleSpans &spans, int column)
{
    return std::lower_bound(spans.begin(), spans.end(), column, [](const StyleSpan &span, int at) {
        return span.start + span.length <= at;
    });
}

// Copied text has rows joined by line feeds alone: a carriage return that a line still holds
// (one not shown as a symbol) does not go along.
QString copiedText(QString text)
{
    text.remove(u'\r');
    return text;
}

} // namespace

ConsoleView::ConsoleView(QWidget *parent)
    : QWidget(parent), m_font(textFont()), m_boldFont(boldOf(m_font)), m_metrics(m_font),
      m_boldMetrics(m_boldFont), m_color(QColor::fromRgbF(0.2f, 0.8f, 0.2f, 1.0f)),
      m_layouts(ConsoleModel::MaxLines)
{
    ConsoleAccessible::installFactory();

    m_ascent = m_metrics.ascent();

    setAccessibleName(tr("Server console"));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);

    // The shortcuts act while the console has the focus, so that a text field keeps its own.
    m_copyAction = new QAction(tr("Copy"), this);
    m_copyAction->setObjectName(QStringLiteral("consoleCopyAction"));
    m_copyAction->setShortcut(QKeySequence::Copy);
    m_copyAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_copyAction, &QAction::triggered, this, &ConsoleView::copy);
    m_copyAllAction = new QAction(tr("Copy All"), this);
    m_copyAllAction->setObjectName(QStringLiteral("consoleCopyAllAction"));
    connect(m_copyAllAction, &QAction::triggered, this, &ConsoleView::copyAll);
    m_selectAllAction = new QAction(tr("Select All"), this);
    m_selectAllAction->setObjectName(QStringLiteral("consoleSelectAllAction"));
    m_selectAllAction->setShortcut(QKeySequence::SelectAll);
    m_selectAllAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_selectAllAction, &QAction::triggered, this, &ConsoleView::selectAll);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    m_clearAction = new QAction(tr("Clear"), this);
    m_clearAction->setObjectName(QStringLiteral("consoleClearAction"));
    connect(m_clearAction, &QAction::triggered, this, &ConsoleView::deleteLines);
    addActions({m_copyAction, m_copyAllAction, m_selectAllAction, separator, m_clearAction});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setCursor(Qt::IBeamCursor);
    selectionChanged();
}

ConsoleView::~ConsoleView()
{
    if (m_frameWindow)
        m_frameWindow->removeEventFilter(this);
}

void ConsoleView::awakeFromNib()
{
    m_model.scrollToEnd(true);
    attach();
    if (!m_area)
        return;

    QScrollBar *old = m_area->verticalScrollBar();
    auto *bar = new VScroller;
    bar->setSizePolicy(old->sizePolicy());
    for (auto size : {Qt::WA_MacNormalSize, Qt::WA_MacSmallSize, Qt::WA_MacMiniSize})
        bar->setAttribute(size, old->testAttribute(size));
    bar->setObjectName(old->objectName());
    // The scroll area copies range and value over and deletes the bar it replaces.
    m_area->setVerticalScrollBar(bar);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bar->setSingleStep(int(ConsoleModel::RowHeight));
    watchScrollBar(bar);
    if (!m_newRowsButton)
        m_newRowsButton = new NewRowsButton(this, m_area);
}

QScrollArea *ConsoleView::enclosingScrollArea() const
{
    QWidget *viewport = parentWidget();
    auto *area = viewport ? qobject_cast<QScrollArea *>(viewport->parentWidget()) : nullptr;
    return area && area->widget() == this ? area : nullptr;
}

void ConsoleView::attach()
{
    QScrollArea *area = enclosingScrollArea();
    if (!area || area == m_area)
        return;
    m_area = area;
    m_viewport = area->viewport();
    // The scroll area turns background filling on for its widget; ours shows its background.
    setAutoFillBackground(false);
    area->viewport()->installEventFilter(this);
    if (m_model.lineCount() == 0)
        m_model.setInitialFrame(QRectF(QPointF(0, 0), QSizeF(size())));
    watchScrollBar(area->verticalScrollBar());
}

void ConsoleView::watchScrollBar(QScrollBar *bar)
{
    disconnect(m_barConnection);
    m_bar = bar;
    m_barConnection = connect(bar, &QScrollBar::valueChanged, this, &ConsoleView::userScrolled);
    m_model.setViewport(float(bar->value()), float(m_viewport->height()));
}

void ConsoleView::userScrolled(int value)
{
    // Our own catching up, and range changes while hidden, are not the user's doing.
    if (m_applying || !isVisible())
        return;
    m_model.setViewportTop(float(value));
    announceUnseenRows();
}

void ConsoleView::announceUnseenRows()
{
    const int rows = m_model.unseenRows();
    if (rows == m_announcedUnseen)
        return;
    m_announcedUnseen = rows;
    Q_EMIT unseenRowsChanged(rows);
}

void ConsoleView::jumpToEnd()
{
    m_model.jumpToEnd();
    scheduleApply();
    flush();
    announceUnseenRows();
}

void ConsoleView::scrollToEnd(bool enable)
{
    m_model.scrollToEnd(enable);
}

void ConsoleView::appendLine(const QString &line)
{
    if (!m_area)
        attach();
    m_model.appendLine(line);
    selectionAfterAppend();
    scheduleApply();
}

void ConsoleView::appendText(const QString &text, const QObject *source, const StyleSpans &spans)
{
    if (text.isEmpty())
        return;
    if (!m_area)
        attach();
    m_model.appendText(text, quintptr(source), spans);
    selectionAfterAppend();
    scheduleApply();
}

void ConsoleView::endText(const QObject *source)
{
    m_model.endText(quintptr(source));
}

void ConsoleView::deleteLines()
{
    m_model.deleteLines();
    clearSelection();
    scheduleApply();
}

void ConsoleView::selectionAfterAppend()
{
    if (m_selection.isActive() && m_selection.dropIfTrimmed(m_model)) {
        m_dragging = false;
        selectionChanged();
    }
}

void ConsoleView::selectionChanged()
{
    const bool any = !m_selection.isEmpty();
    m_copyAction->setEnabled(any);
    update();
    if (QAccessible::isActive()) {
        const int start = any ? ConsoleSelection::offsetOf(m_model, m_selection.begin()) : 0;
        const int end = any ? ConsoleSelection::offsetOf(m_model, m_selection.end()) : 0;
        QAccessibleTextSelectionEvent changed(this, start, end);
        QAccessible::updateAccessibility(&changed);
    }
}

void ConsoleView::clearSelection()
{
    if (!m_selection.isActive())
        return;
    m_selection.clear();
    m_dragging = false;
    selectionChanged();
}

void ConsoleView::selectOffsets(int start, int end)
{
    if (start == end) {
        clearSelection();
        return;
    }
    m_selection.start(ConsoleSelection::positionAt(m_model, start));
    m_selection.extendTo(ConsoleSelection::positionAt(m_model, end));
    selectionChanged();
}

void ConsoleView::selectAll()
{
    m_selection.selectAll(m_model);
    selectionChanged();
    copyToPrimary();
}

void ConsoleView::copy()
{
    if (m_selection.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(copiedText(selectedText()), QClipboard::Clipboard);
}

void ConsoleView::copyAll()
{
    QGuiApplication::clipboard()->setText(copiedText(m_model.lines().join(u'\n')),
                                          QClipboard::Clipboard);
}

void ConsoleView::copyToPrimary()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!m_selection.isEmpty() && clipboard->supportsSelection())
        clipboard->setText(copiedText(selectedText()), QClipboard::Selection);
}

bool ConsoleView::scrollRectToVisible(const QRectF &rect)
{
    const bool scrolled = m_model.scrollRectToVisible(rect);
    scheduleApply();
    return scrolled;
}

void ConsoleView::scheduleApply()
{
    if (!m_model.hasPending())
        return;
    QWindow *handle = isVisible() ? window()->windowHandle() : nullptr;
    if (handle && handle->isExposed()) {
        if (handle != m_frameWindow) {
            if (m_frameWindow)
                m_frameWindow->removeEventFilter(this);
            m_frameWindow = handle;
            handle->installEventFilter(this);
        }
        if (!m_scheduled) {
            m_scheduled = true;
            handle->requestUpdate();
        }
    } else if (!m_postedApply) {
        // Nothing of ours is on screen, so there is no frame to wait for.
        m_postedApply = true;
        QCoreApplication::postEvent(this, new QEvent(applyEventType()));
    }
}

void ConsoleView::flush()
{
    m_scheduled = false;
    if (m_applying || !m_model.hasPending())
        return;
    m_applying = true;
    const ConsoleModel::Pending work = m_model.takePending();
    m_paintedFirst = m_model.firstSequence();
    m_paintedCount = m_model.lineCount();
    if (work.frameChanged) {
        const QRectF frame = m_model.frame();
        const QSize size(qRound(frame.width()), qRound(frame.height()));
        if (this->size() != size)
            resize(size);
    }
    if (m_bar && m_model.hasViewport() && m_bar->value() != qRound(m_model.viewportTop()))
        m_bar->setValue(qRound(m_model.viewportTop()));
    if (work.wholeView)
        update();
    else if (!work.dirty.isNull())
        update(work.dirty.toAlignedRect());
    m_applying = false;

    // While shown, the scroll area is the truth the rules read: it may have laid out differently
    // (a horizontal bar appearing takes viewport height). While hidden its range is stale until
    // it is shown, so the model keeps its own answer and showEvent() pushes it.
    if (m_bar && m_viewport && isVisible()) {
        m_model.setViewportHeight(float(m_viewport->height()));
        m_model.setViewportTop(float(m_bar->value()));
    }
    ++m_applyCount;
    announceUnseenRows();

    if (work.linesChanged && QAccessible::isActive()) {
        QAccessibleEvent changed(this, QAccessible::VisibleDataChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

bool ConsoleView::event(QEvent *event)
{
    if (event->type() == applyEventType()) {
        m_postedApply = false;
        flush();
        return true;
    }
    return QWidget::event(event);
}

bool ConsoleView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::UpdateRequest && watched == m_frameWindow) {
        // The window's frame tick; the update() calls made here are painted in this frame. A tick
        // that only we asked for ends here: passed on, it would repaint the whole window rather
        // than the rows we marked.
        const bool ours = m_scheduled;
        flush();
        if (ours)
            return true;
    } else if (m_viewport && watched == m_viewport) {
        // Compared by identity only: this also runs while the scroll area is being destroyed.
        if (type == QEvent::Resize) {
            m_model.setViewportHeight(float(m_viewport->height()));
            flush();
        } else if (type == QEvent::Wheel) {
            flush();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConsoleView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    flush();
    // The scroll area learned our size only now; put its bar where the rules left the viewport.
    if (m_bar && m_model.hasViewport()) {
        m_applying = true;
        m_bar->setValue(qRound(m_model.viewportTop()));
        m_applying = false;
        m_model.setViewportTop(float(m_bar->value()));
    }
}

void ConsoleView::paintEvent(QPaintEvent *event)
{
    // One range from the bounding rect: drawing a row once per region rect would overdraw its
    // anti-aliased edges.
    m_lastDrawnRows = ConsoleModel::rowRange(QRectF(event->rect()), m_paintedCount);
    if (m_lastDrawnRows.first >= m_lastDrawnRows.second)
        return;
    QPainter painter(this);
    painter.setFont(m_font);
    painter.setPen(m_color);
    // Only the columns under the repaint are laid out, however long a row is.
    const qreal left = event->rect().left() - TextLeft;
    const qreal right = event->rect().right() + 1 - TextLeft;
    const quint64 first = m_model.firstSequence();
    const bool selecting = !m_selection.isEmpty();
    for (int i = m_lastDrawnRows.first; i < m_lastDrawnRows.second; ++i) {
        // A line dropped since the last flush leaves its row empty until the next one.
        const quint64 sequence = m_paintedFirst + quint64(i);
        if (sequence < first || sequence - first >= quint64(m_model.lineCount()))
            continue;
        const int index = int(sequence - first);
        const qreal top = ConsoleModel::RowHeight * i;
        const QString &line = m_model.line(index);
        RowGeometry &geometry = geometryOf(index);
        const RowGeometry::Measure measure = measurer(index);
        if (selecting) {
            bool throughEnd = false;
            const auto [from, to] = m_selection.columnsInLine(m_model, index, &throughEnd);
            if (to > from || throughEnd) {
                const qreal start = geometry.xOf(line, from, measure, right);
                const qreal end = geometry.xOf(line, to, measure, right) +
                                  (throughEnd ? m_metrics.horizontalAdvance(u' ') : 0.0);
                painter.fillRect(
                    QRectF(TextLeft + start, top, end - start, ConsoleModel::RowHeight),
                    SelectionColour);
            }
        }
        const RowGeometry::Slice slice = geometry.slice(line, left, right, measure);
        drawColumns(painter, index, slice.first, slice.end, TextLeft + slice.x, top + m_ascent);
    }
}

void ConsoleView::drawColumns(QPainter &painter, int index, int from, int to, qreal x,
                              qreal baseline)
{
    const QString &line = m_model.line(index);
    const StyleSpans &spans = m_model.spans(index);
    if (spans.isEmpty()) {
        painter.drawText(QPointF(x, baseline),
                         from == 0 && to == line.size() ? line : line.mid(from, to - from));
        return;
    }
    // Plain stretches in the console's green and font, styled ones as the server asked.
    const auto draw = [&](int start, int end, const TextStyle &style) {
        if (end <= start)
            return;
        const QString piece = line.mid(start, end - start);
        painter.setFont(style.bold ? m_boldFont : m_font);
        painter.setPen(style.hasColour ? QColor::fromRgb(style.colour) : m_color);
        painter.drawText(QPointF(x, baseline), piece);
        if (end < to)
            x += metricsFor(style).horizontalAdvance(piece);
    };
    int at = from;
    for (auto span = firstSpanAfter(spans, from); span != spans.end() && span->start < to; ++span) {
        const int start = std::max(span->start, from);
        const int end = std::min(span->start + span->length, to);
        draw(at, start, TextStyle());
        draw(start, end, span->style);
        at = end;
    }
    draw(at, to, TextStyle());
    painter.setFont(m_font);
    painter.setPen(m_color);
}

const QFontMetricsF &ConsoleView::metricsFor(const TextStyle &style) const
{
    return style.bold ? m_boldMetrics : m_metrics;
}

qreal ConsoleView::measure(int index, int from, int to) const
{
    const QString &line = m_model.line(index);
    const StyleSpans &spans = m_model.spans(index);
    qreal x = 0.0;
    int at = from;
    for (auto span = firstSpanAfter(spans, from); span != spans.end() && span->start < to; ++span) {
        const int start = std::max(span->start, from);
        const int end = std::min(span->start + span->length, to);
        if (start > at)
            x += m_metrics.horizontalAdvance(line.mid(at, start - at));
        x += metricsFor(span->style).horizontalAdvance(line.mid(start, end - start));
        at = end;
    }
    if (to > at)
        x += m_metrics.horizontalAdvance(line.mid(at, to - at));
    return x;
}

RowGeometry::Measure ConsoleView::measurer(int index) const
{
    return [this, index](int from, int to) { return measure(index, from, to); };
}

RowGeometry &ConsoleView::geometryOf(int index) const
{
    const quint64 sequence = m_model.firstSequence() + quint64(index);
    RowLayout &layout = m_layouts[int(sequence % ConsoleModel::MaxLines)];
    const quint64 revision = m_model.revision(index);
    if (layout.revision != revision) {
        layout.revision = revision;
        layout.geometry.reset();
    }
    return layout.geometry;
}

qreal ConsoleView::advanceTo(int index, int column) const
{
    return geometryOf(index).xOf(m_model.line(index), column, measurer(index));
}

int ConsoleView::columnAt(int index, qreal x) const
{
    return geometryOf(index).columnAt(m_model.line(index), x, measurer(index));
}

bool ConsoleView::positionAt(const QPointF &point, TextPosition *at) const
{
    if (m_model.lineCount() == 0)
        return false;
    const int row = int(std::floor(point.y() / ConsoleModel::RowHeight));
    // Rows as laid out last; above the first or below the last means the first or last line.
    const quint64 first = m_model.firstSequence();
    const quint64 last = first + quint64(m_model.lineCount() - 1);
    const qint64 wanted = qint64(m_paintedFirst) + row;
    const quint64 sequence = wanted < qint64(first) ? first : std::min(quint64(wanted), last);
    const int index = int(sequence - first);
    at->sequence = sequence;
    if (row < 0 && wanted < qint64(first))
        at->column = 0;
    else if (quint64(wanted) > last)
        at->column = int(m_model.line(index).size());
    else
        at->column = columnAt(index, point.x() - TextLeft);
    return true;
}

void ConsoleView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    TextPosition at;
    if (!positionAt(event->position(), &at))
        return;
    const bool triple =
        m_sinceDoubleClick.isValid() &&
        m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
        (event->position() - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (triple) {
        m_selection.selectLine(m_model, at.sequence);
        m_dragging = false;
        copyToPrimary();
    } else {
        if (event->modifiers() & Qt::ShiftModifier)
            m_selection.extendTo(at);
        else
            m_selection.start(at);
        m_dragging = true;
    }
    selectionChanged();
}

void ConsoleView::mouseMoveEvent(QMouseEvent *event)
{
    TextPosition at;
    if (!m_dragging || !(event->buttons() & Qt::LeftButton) || !positionAt(event->position(), &at))
        return;
    if (at == m_selection.cursor())
        return;
    m_selection.extendTo(at);
    selectionChanged();
}

void ConsoleView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        copyToPrimary();
    }
    QWidget::mouseReleaseEvent(event);
}

void ConsoleView::mouseDoubleClickEvent(QMouseEvent *event)
{
    TextPosition at;
    if (event->button() != Qt::LeftButton || !positionAt(event->position(), &at))
        return;
    m_selection.selectWord(m_model, at);
    m_dragging = false;
    m_sinceDoubleClick.start();
    m_doubleClickAt = event->position();
    selectionChanged();
    copyToPrimary();
}

void ConsoleView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        deleteLines();
        return;
    }
    if (event->key() == Qt::Key_End &&
        (event->modifiers() & ~(Qt::KeypadModifier | Qt::ControlModifier)) == 0) {
        jumpToEnd();
        return;
    }
    // Paging keys go on to the scroll area, which must scroll the geometry the rules gave.
    flush();
    QWidget::keyPressEvent(event);
}
