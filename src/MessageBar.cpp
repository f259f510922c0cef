#include "MessageBar.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>

MessageBar::MessageBar(QMainWindow *window) : QFrame(window), m_window(window)
{
    setObjectName(QStringLiteral("messageBar"));
    setAccessibleName(tr("Message"));
    // The picture is looked up in the icon theme only when the first message shows (see
    // showMessage): most starts never show one, and the lookup scans the theme's folders.
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("messageIcon"));
    m_icon->setAccessibleName(tr("Warning"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("messageText"));
    m_text->setAccessibleName(tr("Message"));
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_copy = new QToolButton(this);
    m_copy->setObjectName(QStringLiteral("messageCopy"));
    m_copy->setText(tr("Copy"));
    m_copy->setAccessibleName(tr("Copy path"));
    m_copy->setToolTip(tr("Put the path named in the message on the clipboard"));
    m_copy->hide();
    connect(m_copy, &QToolButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_copyText); });
    auto *close = new QToolButton(this);
    close->setObjectName(QStringLiteral("messageDismiss"));
    close->setText(tr("Dismiss"));
    close->setAccessibleName(tr("Dismiss message"));
    connect(close, &QToolButton::clicked, this, &MessageBar::dismiss);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_icon);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_copy);
    layout->addWidget(close);

    QStatusBar *bar = window->statusBar();
    bar->setSizeGripEnabled(false);
    bar->addWidget(this, 1);
    bar->hide();
}

QString MessageBar::text() const
{
    return m_text->text();
}

void MessageBar::showMessage(const QString &text, const QString &copyText)
{
    m_copyText = copyText;
    m_copy->setVisible(!copyText.isEmpty());
    if (m_icon->pixmap().isNull()) {
        const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
        m_icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    }
    m_text->setText(text);
    m_text->setAccessibleDescription(text);
    QStatusBar *bar = m_window->statusBar();
    if (bar->isHidden()) {
        bar->show();
        resizeWindowBy(bar->sizeHint().height());
    }
    QAccessibleEvent alert(m_text, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    Q_EMIT messageShown(text);
}

void MessageBar::dismiss()
{
    QStatusBar *bar = m_window->statusBar();
    if (bar->isHidden())
        return;
    const int height = bar->height();
    bar->hide();
    resizeWindowBy(-height);
}

void MessageBar::resizeWindowBy(int height)
{
    QSize minimum = m_window->minimumSize();
    if (minimum.height() > 0)
        minimum.rheight() = qMax(0, minimum.height() + height);
    m_window->setMinimumSize(minimum);
    m_window->resize(m_window->width(), qMax(1, m_window->height() + height));
}
