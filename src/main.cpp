#include "Launcher.h"
#include "LauncherInterface.h"
#include "LauncherStyle.h"
#include "TerminationSignals.h"
#include "ToolbarImages.h"
#include "Translations.h"

#include <QApplication>
#include <QMainWindow>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// --help and --version are answered before any display is asked for, so that they work on a
// machine without one. Every other argument is Qt's (-platform, say).
int answerWithoutDisplay(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const bool help = !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
        const bool version = !std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-v");
        if (!help && !version)
            continue;
        QCoreApplication app(argc, argv);
        installTranslations(app);
        const QString text =
            version ? QStringLiteral("velmora-launcher %1\n").arg(QStringLiteral(VELMORA_VERSION))
                    : QCoreApplication::translate(
                          "main", "Usage: velmora-launcher [Qt options]\n"
                                  "Opens the Velmora launcher: choose the screen and graphics "
                                  "settings and play, or run a dedicated server on the Server "
                                  "pane.\n"
                                  "\n"
                                  "  -h, --help     show this help and exit\n"
                                  "  -v, --version  show the version and exit\n"
                                  "\n"
                                  "The dedicated server runs without a window too: see "
                                  "velmora-server --help.\n");
        const QByteArray bytes = text.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return 0;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int answered = answerWithoutDisplay(argc, argv); answered >= 0)
        return answered;
    // A file-size limit reached by a server log must fail that write (EFBIG, said in the
    // console), not end the launcher and its server with it. Set before any thread starts.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setStyle(new LauncherStyle);
    QApplication::setApplicationName(QStringLiteral("Velmora Launcher"));
    QApplication::setDesktopFileName(QStringLiteral("velmora-launcher"));
    installTranslations(app);

    LauncherInterface interface;
    // A request to end the launcher from outside is taken as a close of its window: the server
    // goes with it and the exit status is 0.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, interface.window(),
                     &QWidget::close);
    interface.launcher()->awakeFromNib();
    // The application's image is set once the window's native window is made: set before, it
    // would be given to that window twice (as it is made, and again by the widget), each time
    // converted to the window manager's format in every size.
    interface.window()->winId();
    QApplication::setWindowIcon(applicationImage());
    interface.window()->show();
    return app.exec();
}
