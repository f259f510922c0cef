#include "ConsoleView.h"

#include "ConsoleAccessible.h"
#include "NewRowsButton.h"
#include "VScroller.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

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

ConsoleView::ConsoleView(QWidget *parent)
    : QWidget(parent), m_color(QColor::fromRgbF(0.2f, 0.8f, 0.2f, 1.0f))
{
    ConsoleAccessible::installFactory();

    m_font = textFont();
    m_ascent = QFontMetricsF(m_font).ascent();

    setAccessibleName(tr("Server console"));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);

    m_clearAction = new QAction(tr("Clear"), this);
    connect(m_clearAction, &QAction::triggered, this, &ConsoleView::deleteLines);
    addAction(m_clearAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
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
    scheduleApply();
}

void ConsoleView::appendText(const QString &text, const QObject *source)
{
    if (text.isEmpty())
        return;
    if (!m_area)
        attach();
    m_model.appendText(text, quintptr(source));
    scheduleApply();
}

void ConsoleView::endText(const QObject *source)
{
    m_model.endText(quintptr(source));
}

void ConsoleView::deleteLines()
{
    m_model.deleteLines();
    scheduleApply();
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
    const quint64 first = m_model.firstSequence();
    for (int i = m_lastDrawnRows.first; i < m_lastDrawnRows.second; ++i) {
        // A line dropped since the last flush leaves its row empty until the next one.
        const quint64 sequence = m_paintedFirst + quint64(i);
        if (sequence >= first && sequence - first < quint64(m_model.lineCount()))
            painter.drawText(QPointF(2.0, ConsoleModel::RowHeight * i + m_ascent),
                             m_model.line(int(sequence - first)));
    }
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
