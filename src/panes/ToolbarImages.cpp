#include "ToolbarImages.h"

#include <QFile>
#include <QRegularExpression>

// Referencing the resource initialiser from here is what keeps the images linked in when this
// library is linked statically. It must sit in the global namespace: the macro declares the
// initialiser at block scope, which would otherwise give it the wrong linkage.
static void initIconResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(velmora_icons);
        return true;
    }();
    Q_UNUSED(done);
}

QIcon toolbarImageNamed(const QString &name)
{
    initIconResources();
    // A name is one plain word; anything else could reach outside the icon folder.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!plainName.match(name).hasMatch())
        return QIcon();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (!QFile::exists(path))
        return QIcon();
    return QIcon(path);
}
