#include "Launcher.h"
#include "LauncherInterface.h"
#include "TerminationSignals.h"
#include "ToolbarImages.h"
#include "Translations.h"

#include <QApplication>
#include <QMainWindow>

#include <csignal>

int main(int argc, char *argv[])
{
    // A file-size limit reached by a server log must fail that write (EFBIG, said in the
    // console), not end the launcher and its server with it. Set before any thread starts.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora Launcher"));
    QApplication::setDesktopFileName(QStringLiteral("velmora-launcher"));
    QApplication::setWindowIcon(applicationImage());
    installTranslations(app);

    LauncherInterface interface;
    // A request to end the launcher from outside is taken as a close of its window: the server
    // goes with it and the exit status is 0.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, interface.window(),
                     &QWidget::close);
    interface.launcher()->awakeFromNib();
    interface.window()->show();
    return app.exec();
}
