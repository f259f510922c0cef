#include "LauncherStyle.h"

#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

// Stands for an image that the style makes only when something asks what it looks like. Copies
// share the one image, made once.
class DeferredIconEngine : public QIconEngine
{
public:
    explicit DeferredIconEngine(std::function<QIcon()> make)
        : m_image(std::make_shared<Image>(Image{std::move(make), QIcon(), false}))
    {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    // A button with a null image shows its text instead; asking this must not make the image.
    bool isNull() override { return m_image->made && m_image->icon.isNull(); }
    QIconEngine *clone() const override { return new DeferredIconEngine(*this); }
    QString key() const override { return QStringLiteral("DeferredIconEngine"); }

private:
    struct Image
    {
        std::function<QIcon()> make;
        QIcon icon;
        bool made;
    };

    const QIcon &icon()
    {
        if (!m_image->made) {
            m_image->icon = m_image->make();
            m_image->make = nullptr;
            m_image->made = true;
        }
        return m_image->icon;
    }

    std::shared_ptr<Image> m_image;
};

} // namespace

QIcon LauncherStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                                  const QWidget *widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton &&
        standardIcon != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    // The option is kept for what these images depend on (the direction of the text); the object
    // it names and the widget may be gone by the time the image is drawn, and so may the style.
    std::optional<QStyleOption> kept;
    if (option) {
        kept.emplace(*option);
        kept->styleObject = nullptr;
    }
    QPointer<LauncherStyle> style(const_cast<LauncherStyle *>(this));
    QPointer<QWidget> button(const_cast<QWidget *>(widget));
    return QIcon(new DeferredIconEngine([style, standardIcon, kept, button] {
        return style ? style->QProxyStyle::standardIcon(standardIcon, kept ? &*kept : nullptr,
                                                        button.data())
                     : QIcon();
    }));
}
