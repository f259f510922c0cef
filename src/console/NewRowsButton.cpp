#include "NewRowsButton.h"

#include "ConsoleView.h"

#include <QAbstractScrollArea>
#include <QEvent>

namespace {

// Distance between the button and the viewport's lower edge.
constexpr int EdgeGap = 6;

} // namespace

NewRowsButton::NewRowsButton(ConsoleView *console, QAbstractScrollArea *area)
    : QPushButton(area->viewport()), m_viewport(area->viewport())
{
    setObjectName(QStringLiteral("newRowsButton"));
    setFocusPolicy(Qt::NoFocus);
    setAccessibleDescription(tr("Scrolls to the end of the console and follows new output again"));
    hide();
    connect(this, &QPushButton::clicked, console, &ConsoleView::jumpToEnd);
    connect(console, &ConsoleView::unseenRowsChanged, this, &NewRowsButton::showCount);
    // The viewport's size decides where the lower edge is.
    m_viewport->installEventFilter(this);
}

QString NewRowsButton::label(int rows)
{
    return rows == 1 ? tr("1 new line") : tr("%1 new lines").arg(rows);
}

void NewRowsButton::showCount(int rows)
{
    if (rows <= 0) {
        hide();
        return;
    }
    const QString text = label(rows);
    setText(text);
    setAccessibleName(text);
    place();
    if (isHidden()) {
        show();
        raise();
    }
}

void NewRowsButton::place()
{
    if (!m_viewport)
        return;
    const QSize size = sizeHint();
    move((m_viewport->width() - size.width()) / 2, m_viewport->height() - size.height() - EdgeGap);
    resize(size);
}

bool NewRowsButton::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewport && event->type() == QEvent::Resize)
        place();
    return QPushButton::eventFilter(watched, event);
}
