#include "ToolbarImages.h"

#include <QFile>
#include <QRegularExpression>

QIcon toolbarImageNamed(const QString &name)
{
    // A name is one plain word; anything else could reach outside the icon folder.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!plainName.match(name).hasMatch())
        return QIcon();
    // The images are compiled into the application (src/CMakeLists.txt, velmora_toolbar_icons).
    const QString path = QStringLiteral(":/toolbar/%1.svg").arg(name);
    if (!QFile::exists(path))
        return QIcon();
    return QIcon(path);
}
