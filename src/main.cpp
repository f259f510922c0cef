#include "Launcher.h"
#include "LauncherInterface.h"
#include "Translations.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora Launcher"));
    QApplication::setDesktopFileName(QStringLiteral("velmora-launcher"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/velmora-launcher.svg")));
    installTranslations(app);

    LauncherInterface interface;
    interface.launcher()->awakeFromNib();
    interface.window()->show();
    return app.exec();
}
