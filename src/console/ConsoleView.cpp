#include "ConsoleView.h"

#include "ConsoleAccessible.h"
#include "NewRowsButton.h"
#include "VScroller.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

#include <utility>

namespace {

// How long QWindow::requestUpdate() takes on X11 (Qt's default update interval).
constexpr int PlatformUpdateDelay = 5;

QEvent::Type applyEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

} // namespace

QFont ConsoleView::textFont(bool userFont)
{
    // Ten of the desktop's logical units, as a 10-point font is where points and pixels are one:
    // its line fits the 12-pixel rows. A 10-point font at 96 dots per inch is over 13 pixels
    // high and would spill into the next row and past the last one. Fixed pitch keeps the
    // columns of server tables and progress bars in line.
    QFont font =
        userFont ? QApplication::font() : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    return font;
}

namespace {

// Behind selected text: the console's green, dimmed, so that every text colour stays readable.
const QColor SelectionColour(51, 110, 51);

constexpr qreal TextLeft = RowPainter::TextLeft;

// Copied text has rows joined by line feeds alone: a carriage return that a line still holds
// (one not shown as a symbol) does not go along.
QString copiedText(QString text)
{
    text.remove(u'\r');
    return text;
}

} // namespace

ConsoleView::ConsoleView(QWidget *parent) : QWidget(parent), m_rows(m_model), m_mouse(*this)
{
    ConsoleAccessible::installFactory();
    m_rows.setFont(textFont());

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

void ConsoleView::setUserTextFont(bool userFont)
{
    const QFont font = textFont(userFont);
    if (font == m_rows.font())
        return;
    m_rows.setFont(font);
    measureWidth();
    scheduleApply();
    update();
}

void ConsoleView::awakeFromNib()
{
    m_model.scrollToEnd(true);
    attach();
    if (!m_area)
        return;
    // The console is the one focus stop here: a click anywhere in the viewport lands on it.
    m_area->setFocusPolicy(Qt::NoFocus);

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
    m_hbar = area->horizontalScrollBar();
    connect(m_hbar, &QScrollBar::valueChanged, this, [this] {
        if (m_applying)
            return;
        measureWidth();
        scheduleApply();
    });
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
    m_model.userScrolled(float(value));
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

void ConsoleView::appendLine(const QString &line, ConsoleModel::RowKind kind)
{
    if (!m_area)
        attach();
    m_model.appendLine(line, kind,
                       kind == ConsoleModel::RowKind::Output ? QTime() : QTime::currentTime());
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
        m_mouse.cancel();
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
    m_mouse.cancel();
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
            // The platform's own update request comes a few milliseconds later; what is left of
            // the interval since our last frame is waited for first.
            const qint64 wait = m_lastFrame.isValid()
                                    ? FrameInterval - PlatformUpdateDelay - m_lastFrame.elapsed()
                                    : 0;
            if (wait > 0)
                m_frameDelay.start(int(wait), Qt::PreciseTimer, this);
            else
                handle->requestUpdate();
        }
    } else if (!m_postedApply) {
        // Nothing of ours is on screen, so there is no frame to wait for.
        m_postedApply = true;
        QCoreApplication::postEvent(this, new QEvent(applyEventType()));
    }
}

void ConsoleView::measureWidth()
{
    const qreal shown = m_viewport ? m_viewport->width() : ConsoleModel::FrameWidth;
    const qreal left = m_hbar ? m_hbar->value() : 0;
    m_model.setContentWidth(float(m_rows.contentWidth(left + 2 * shown)));
}

QSize ConsoleView::laidOutSize() const
{
    const QRectF frame = m_model.frame();
    const QSize size(qRound(frame.width()), qRound(frame.height()));
    return m_viewport ? size.expandedTo(m_viewport->size()) : size;
}

void ConsoleView::fitToViewport()
{
    const bool applying = std::exchange(m_applying, true);
    if (size() != laidOutSize())
        resize(laidOutSize());
    m_applying = applying;
}

void ConsoleView::flush()
{
    m_scheduled = false;
    m_frameDelay.stop();
    m_lastFrame.start();
    if (m_applying)
        return;
    if (m_model.lineCount() > 0)
        measureWidth();
    if (!m_model.hasPending())
        return;
    m_applying = true;
    const ConsoleModel::Pending work = m_model.takePending();
    m_paintedFirst = m_model.firstSequence();
    m_paintedCount = m_model.lineCount();
    fitToViewport();
    if (m_bar && m_model.hasViewport() && m_bar->value() != qRound(m_model.viewportTop()))
        m_bar->setValue(qRound(m_model.viewportTop()));
    if (work.wholeView) {
        update();
    } else if (!work.dirty.isNull()) {
        // The rules mark rows as wide as the narrowest frame; a row may reach further.
        const QRect rows = work.dirty.toAlignedRect();
        update(QRect(0, rows.y(), width(), rows.height()));
    }
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
    if (event->type() == QEvent::Timer &&
        static_cast<QTimerEvent *>(event)->timerId() == m_frameDelay.timerId()) {
        m_frameDelay.stop();
        if (m_frameWindow && m_frameWindow->isExposed())
            m_frameWindow->requestUpdate();
        else
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
            fitToViewport();
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
    QPainter painter(this);
    // Only the columns under the repaint are laid out, however long a row is.
    const qreal left = event->rect().left() - TextLeft;
    const qreal right = event->rect().right() + 1 - TextLeft;
    const quint64 first = m_model.firstSequence();
    for (int i = m_lastDrawnRows.first; i < m_lastDrawnRows.second; ++i) {
        // A line dropped since the last flush leaves its row empty until the next one.
        const quint64 sequence = m_paintedFirst + quint64(i);
        if (sequence < first || sequence - first >= quint64(m_model.lineCount()))
            continue;
        const int index = int(sequence - first);
        const qreal top = ConsoleModel::RowHeight * i;
        if (!m_selection.isEmpty())
            paintSelection(painter, index, top, right);
        m_rows.drawRow(painter, index, top, left, right);
    }
    if (hasFocus())
        paintFocusRing(painter);
}

void ConsoleView::paintSelection(QPainter &painter, int index, qreal top, qreal right)
{
    bool throughEnd = false;
    const auto [from, to] = m_selection.columnsInLine(m_model, index, &throughEnd);
    if (to <= from && !throughEnd)
        return;
    const qreal start = m_rows.xOf(index, from, right);
    const qreal end = m_rows.xOf(index, to, right) + (throughEnd ? m_rows.spaceWidth() : 0.0);
    painter.fillRect(QRectF(TextLeft + start, top, end - start, ConsoleModel::RowHeight),
                     SelectionColour);
}

void ConsoleView::paintFocusRing(QPainter &painter)
{
    // Around what the viewport shows, wherever the console has scrolled to.
    const QRect shown = m_viewport ? QRect(-pos(), m_viewport->size()) : rect();
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(shown).adjusted(1.0, 1.0, -1.0, -1.0));
}

void ConsoleView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void ConsoleView::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

void ConsoleView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_mouse.press(event);
}

void ConsoleView::mouseMoveEvent(QMouseEvent *event)
{
    m_mouse.move(event);
}

void ConsoleView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_mouse.release(event);
    QWidget::mouseReleaseEvent(event);
}

void ConsoleView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_mouse.doubleClick(event);
}

void ConsoleView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        deleteLines();
        return;
    }
    const bool plain = (event->modifiers() & ~(Qt::KeypadModifier | Qt::ControlModifier)) == 0;
    if (event->key() == Qt::Key_End && plain) {
        jumpToEnd();
        return;
    }
    // Paging keys go on to the scroll area, which must scroll the geometry the rules gave.
    flush();
    if (event->key() == Qt::Key_Home && plain && m_bar) {
        m_bar->triggerAction(QAbstractSlider::SliderToMinimum);
        return;
    }
    QWidget::keyPressEvent(event);
}
