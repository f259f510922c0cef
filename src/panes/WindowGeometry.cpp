#include "WindowGeometry.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMargins>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {

const QString animationName = QStringLiteral("velmoraWindowFrameAnimation");
constexpr int animationMilliseconds = 180;

QRect primaryScreenRect()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

int screenBottom()
{
    return primaryScreenRect().y() + primaryScreenRect().height();
}

FrameRect fromScreenRect(const QRect &rect)
{
    const QRect primary = primaryScreenRect();
    FrameRect frame;
    frame.x = static_cast<float>(rect.x() - primary.x());
    frame.y = static_cast<float>(screenBottom() - (rect.y() + rect.height()));
    frame.width = static_cast<float>(rect.width());
    frame.height = static_cast<float>(rect.height());
    return frame;
}

// Rounds to whole pixels within what a widget can hold; false for NaN and infinities.
bool toPixels(float value, int *pixels)
{
    if (!std::isfinite(value))
        return false;
    const float limit = static_cast<float>(QWIDGETSIZE_MAX);
    *pixels = qRound(qBound(-limit, value, limit));
    return true;
}

// Widgets placed or replaced since the last event-loop pass have stale geometry until the
// layout runs; frames read before that would describe the old arrangement.
void applyPendingLayout(const QWidget *window)
{
    if (QLayout *layout = window->layout())
        layout->activate();
}

QMargins decorations(const QWidget *window)
{
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

void allowSize(QWidget *window, const QSize &size)
{
    const QSize minimum = window->minimumSize();
    if (size.width() < minimum.width() || size.height() < minimum.height())
        window->setMinimumSize(minimum.boundedTo(size));
    const QSize maximum = window->maximumSize();
    if (size.width() > maximum.width() || size.height() > maximum.height())
        window->setMaximumSize(maximum.expandedTo(size));
}

void stopRunningAnimation(QWidget *window)
{
    const auto running =
        window->findChildren<QPropertyAnimation *>(animationName, Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : running)
        animation->stop();
}

void animateGeometry(QWidget *window, const QRect &target)
{
    auto *animation = new QPropertyAnimation(window, "geometry", window);
    animation->setObjectName(animationName);
    animation->setDuration(animationMilliseconds);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(window->geometry());
    animation->setEndValue(target);

    // The loop ends when the animation finishes, is stopped by a later frame change, or goes
    // away with the window.
    QPointer<QPropertyAnimation> guard(animation);
    QEventLoop loop;
    QObject::connect(animation, &QAbstractAnimation::stateChanged, &loop,
                     [&loop](QAbstractAnimation::State state) {
                         if (state == QAbstractAnimation::Stopped)
                             loop.quit();
                     });
    QObject::connect(animation, &QObject::destroyed, &loop, &QEventLoop::quit);
    animation->start();
    if (guard && guard->state() == QAbstractAnimation::Running)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    delete guard.data();
}

} // namespace

FrameRect windowFrame(const QWidget *window)
{
    if (!window)
        return {};
    return fromScreenRect(window->frameGeometry());
}

FrameRect contentFrame(const QMainWindow *window)
{
    if (!window || !window->centralWidget())
        return {};
    applyPendingLayout(window);
    const QRect outer = window->frameGeometry();
    const QMargins around = decorations(window);
    const QRect content = window->centralWidget()->geometry();
    FrameRect frame;
    frame.x = static_cast<float>(around.left() + content.x());
    frame.y = static_cast<float>(outer.height() - (around.top() + content.y() + content.height()));
    frame.width = static_cast<float>(content.width());
    frame.height = static_cast<float>(content.height());
    return frame;
}

FrameRect availableFrame(const QWidget *window)
{
    const QScreen *screen = window ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? fromScreenRect(screen->availableGeometry()) : FrameRect{};
}

FrameRect viewFrame(const QWidget *view)
{
    if (!view)
        return {};
    const QWidget *parent = view->parentWidget();
    if (!parent)
        return fromScreenRect(view->geometry());
    const QRect rect = view->geometry();
    FrameRect frame;
    frame.x = static_cast<float>(rect.x());
    frame.y = static_cast<float>(parent->height() - (rect.y() + rect.height()));
    frame.width = static_cast<float>(rect.width());
    frame.height = static_cast<float>(rect.height());
    return frame;
}

void setWindowFrame(QWidget *window, const FrameRect &frame, bool animate)
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    if (!window || !toPixels(frame.x, &left) || !toPixels(frame.y + frame.height, &top) ||
        !toPixels(frame.width, &width) || !toPixels(frame.height, &height))
        return;

    // The top edge is rounded as one value so that it lands exactly where the frame puts it.
    const QRect primary = primaryScreenRect();
    const QMargins around = decorations(window);
    const QRect target(primary.x() + left + around.left(), screenBottom() - top + around.top(),
                       qMax(0, width - around.left() - around.right()),
                       qMax(0, height - around.top() - around.bottom()));

    stopRunningAnimation(window);
    allowSize(window, target.size());
    if (!window->isVisible() && !window->testAttribute(Qt::WA_Moved)) {
        // Not yet on screen and never placed: take the size only, so that the window system
        // places the window where it places new windows.
        window->resize(target.size());
        return;
    }
    if (!animate || !window->isVisible() || window->geometry() == target) {
        window->setGeometry(target);
        return;
    }
    animateGeometry(window, target);
}

void setContentMinSize(QMainWindow *window, QSizeF size, QSizeF largestFrame)
{
    if (!window)
        return;
    applyPendingLayout(window);
    const QWidget *central = window->centralWidget();
    const QSize around =
        central ? (window->size() - central->size()).expandedTo(QSize(0, 0)) : QSize(0, 0);
    const auto whole = [](qreal value) {
        if (!std::isfinite(value) || value <= 0)
            return 0;
        return static_cast<int>(std::ceil(qMin(value, qreal(QWIDGETSIZE_MAX))));
    };
    QSize minimum = (QSize(whole(size.width()), whole(size.height())) + around)
                        .boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    if (!largestFrame.isEmpty()) {
        const QMargins frame = decorations(window);
        minimum =
            minimum.boundedTo(QSize(whole(largestFrame.width()), whole(largestFrame.height())) -
                              QSize(frame.left() + frame.right(), frame.top() + frame.bottom()));
    }
    window->setMinimumSize(minimum.expandedTo(QSize(0, 0)));
}

QWidget *takeAndSetCentralWidget(QMainWindow *window, QWidget *newCentral)
{
    if (!window)
        return nullptr;
    QWidget *old = window->takeCentralWidget();
    if (old && old != newCentral) {
        // Back under the window so that nothing taken out is left without an owner.
        old->setParent(window);
        old->hide();
    }
    if (newCentral) {
        window->setCentralWidget(newCentral);
        // A widget hidden while it was out of the window would otherwise stay hidden.
        newCentral->show();
    }
    return old == newCentral ? nullptr : old;
}
