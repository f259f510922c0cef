#include "ConsoleView.h"

#include "ConsoleAccessible.h"
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
    : QWidget(parent), color_(QColor::fromRgbF(0.2f, 0.8f, 0.2f, 1.0f))
{
    ConsoleAccessible::installFactory();

    font_ = textFont();
    ascent_ = QFontMetricsF(font_).ascent();

    setAccessibleName(tr("Server console"));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);

    clearAction_ = new QAction(tr("Clear"), this);
    connect(clearAction_, &QAction::triggered, this, &ConsoleView::deleteLines);
    addAction(clearAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

ConsoleView::~ConsoleView()
{
    if (frameWindow_)
        frameWindow_->removeEventFilter(this);
}

void ConsoleView::awakeFromNib()
{
    model_.scrollToEnd(true);
    attach();
    if (!area_)
        return;

    QScrollBar *old = area_->verticalScrollBar();
    auto *bar = new VScroller;
    bar->setSizePolicy(old->sizePolicy());
    for (auto size : {Qt::WA_MacNormalSize, Qt::WA_MacSmallSize, Qt::WA_MacMiniSize})
        bar->setAttribute(size, old->testAttribute(size));
    bar->setObjectName(old->objectName());
    // The scroll area copies range and value over and deletes the bar it replaces.
    area_->setVerticalScrollBar(bar);
    area_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bar->setSingleStep(int(ConsoleModel::RowHeight));
    watchScrollBar(bar);
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
    if (!area || area == area_)
        return;
    area_ = area;
    viewport_ = area->viewport();
    // The scroll area turns background filling on for its widget; ours shows its background.
    setAutoFillBackground(false);
    area->viewport()->installEventFilter(this);
    if (model_.lineCount() == 0)
        model_.setInitialFrame(QRectF(QPointF(0, 0), QSizeF(size())));
    watchScrollBar(area->verticalScrollBar());
}

void ConsoleView::watchScrollBar(QScrollBar *bar)
{
    disconnect(barConnection_);
    bar_ = bar;
    barConnection_ = connect(bar, &QScrollBar::valueChanged, this, &ConsoleView::userScrolled);
    model_.setViewport(float(bar->value()), float(viewport_->height()));
}

void ConsoleView::userScrolled(int value)
{
    // Our own catching up, and range changes while hidden, are not the user's doing.
    if (applying_ || !isVisible())
        return;
    model_.setViewportTop(float(value));
}

void ConsoleView::scrollToEnd(bool enable)
{
    model_.scrollToEnd(enable);
}

void ConsoleView::appendLine(const QString &line)
{
    if (!area_)
        attach();
    model_.appendLine(line);
    scheduleApply();
}

void ConsoleView::appendText(const QString &text)
{
    if (text.isEmpty())
        return;
    if (!area_)
        attach();
    model_.appendText(text);
    scheduleApply();
}

void ConsoleView::deleteLines()
{
    model_.deleteLines();
    scheduleApply();
}

bool ConsoleView::scrollRectToVisible(const QRectF &rect)
{
    const bool scrolled = model_.scrollRectToVisible(rect);
    scheduleApply();
    return scrolled;
}

void ConsoleView::scheduleApply()
{
    if (!model_.hasPending())
        return;
    QWindow *handle = isVisible() ? window()->windowHandle() : nullptr;
    if (handle && handle->isExposed()) {
        if (handle != frameWindow_) {
            if (frameWindow_)
                frameWindow_->removeEventFilter(this);
            frameWindow_ = handle;
            handle->installEventFilter(this);
        }
        if (!scheduled_) {
            scheduled_ = true;
            handle->requestUpdate();
        }
    } else if (!postedApply_) {
        // Nothing of ours is on screen, so there is no frame to wait for.
        postedApply_ = true;
        QCoreApplication::postEvent(this, new QEvent(applyEventType()));
    }
}

void ConsoleView::flush()
{
    scheduled_ = false;
    if (applying_ || !model_.hasPending())
        return;
    applying_ = true;
    const ConsoleModel::Pending work = model_.takePending();
    paintedFirst_ = model_.firstSequence();
    paintedCount_ = model_.lineCount();
    if (work.frameChanged) {
        const QRectF frame = model_.frame();
        const QSize size(qRound(frame.width()), qRound(frame.height()));
        if (this->size() != size)
            resize(size);
    }
    if (bar_ && model_.hasViewport() && bar_->value() != qRound(model_.viewportTop()))
        bar_->setValue(qRound(model_.viewportTop()));
    if (work.wholeView)
        update();
    else if (!work.dirty.isNull())
        update(work.dirty.toAlignedRect());
    applying_ = false;

    // While shown, the scroll area is the truth the rules read: it may have laid out differently
    // (a horizontal bar appearing takes viewport height). While hidden its range is stale until
    // it is shown, so the model keeps its own answer and showEvent() pushes it.
    if (bar_ && viewport_ && isVisible()) {
        model_.setViewportHeight(float(viewport_->height()));
        model_.setViewportTop(float(bar_->value()));
    }
    ++applyCount_;

    if (work.linesChanged && QAccessible::isActive()) {
        QAccessibleEvent changed(this, QAccessible::VisibleDataChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

bool ConsoleView::event(QEvent *event)
{
    if (event->type() == applyEventType()) {
        postedApply_ = false;
        flush();
        return true;
    }
    return QWidget::event(event);
}

bool ConsoleView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::UpdateRequest && watched == frameWindow_) {
        // The window's frame tick; the update() calls made here are painted in this frame. A tick
        // that only we asked for ends here: passed on, it would repaint the whole window rather
        // than the rows we marked.
        const bool ours = scheduled_;
        flush();
        if (ours)
            return true;
    } else if (viewport_ && watched == viewport_) {
        // Compared by identity only: this also runs while the scroll area is being destroyed.
        if (type == QEvent::Resize) {
            model_.setViewportHeight(float(viewport_->height()));
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
    if (bar_ && model_.hasViewport()) {
        applying_ = true;
        bar_->setValue(qRound(model_.viewportTop()));
        applying_ = false;
        model_.setViewportTop(float(bar_->value()));
    }
}

void ConsoleView::paintEvent(QPaintEvent *event)
{
    // One range from the bounding rect: drawing a row once per region rect would overdraw its
    // anti-aliased edges.
    lastDrawnRows_ = ConsoleModel::rowRange(QRectF(event->rect()), paintedCount_);
    if (lastDrawnRows_.first >= lastDrawnRows_.second)
        return;
    QPainter painter(this);
    painter.setFont(font_);
    painter.setPen(color_);
    const quint64 first = model_.firstSequence();
    for (int i = lastDrawnRows_.first; i < lastDrawnRows_.second; ++i) {
        // A line dropped since the last flush leaves its row empty until the next one.
        const quint64 sequence = paintedFirst_ + quint64(i);
        if (sequence >= first && sequence - first < quint64(model_.lineCount()))
            painter.drawText(QPointF(2.0, ConsoleModel::RowHeight * i + ascent_),
                             model_.line(int(sequence - first)));
    }
}

void ConsoleView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        deleteLines();
        return;
    }
    // Paging keys go on to the scroll area, which must scroll the geometry the rules gave.
    flush();
    QWidget::keyPressEvent(event);
}
