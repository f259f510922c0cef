#pragma once

#include <QProxyStyle>

// The launcher's style: the desktop's own (or the one -style names), except that the images of
// the toolbar's and the menu bar's extension buttons (») are made when they are first drawn. Each
// bar makes its button, hidden, as it is made, and the style's image for it is read from image
// files whose format is found by loading every image-format plugin; the buttons show only when a
// bar is too narrow for its items, which at the launcher's own size it is not.
class LauncherStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // `base` (owned from now on) is the style drawn in; the default is the desktop's, or the one
    // -style names.
    explicit LauncherStyle(QStyle *base = nullptr) : QProxyStyle(base) {}

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
