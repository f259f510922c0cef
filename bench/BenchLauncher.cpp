#include "BenchLauncher.h"

#include "ConsoleView.h"
#include "Launcher.h"
#include "LauncherInterface.h"
#include "ToolbarItem.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QMainWindow>
#include <QSettings>
#include <QTimer>
#include <QWindow>

void BenchLauncher::usePrivatePreferences(const QString &configHome)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    // The server log of each flood is written as in real use, into the private folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(configHome + QStringLiteral("/state")));
}

void BenchLauncher::setPreference(const QString &key, const QVariant &value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"),
                       QStringLiteral("Launcher"));
    settings.setValue(key, value);
    settings.sync();
}

QString BenchLauncher::launcherExecutable()
{
    return QStringLiteral(VELMORA_BENCH_LAUNCHER_PATH);
}

void BenchLauncher::addFloodOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("lines"), QStringLiteral("Lines to flood."),
                      QStringLiteral("n"), QStringLiteral("1000000")});
    parser.addOption({QStringLiteral("timeout-ms"), QStringLiteral("Give up after this long."),
                      QStringLiteral("ms"), QStringLiteral("600000")});
}

BenchLauncher::BenchLauncher() : m_interface(std::make_unique<LauncherInterface>())
{
    Launcher *controller = m_interface->launcher();
    controller->setTerminateHandler([this] { ++m_terminateCalls; });
    controller->setExecutablePathProvider([] { return launcherExecutable(); });
    controller->awakeFromNib();
}

BenchLauncher::~BenchLauncher() = default;

Launcher *BenchLauncher::launcher() const
{
    return m_interface->launcher();
}

QMainWindow *BenchLauncher::window() const
{
    return m_interface->window();
}

ConsoleView *BenchLauncher::console() const
{
    return launcher()->console();
}

bool BenchLauncher::show(int timeoutMs)
{
    window()->show();
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QWindow *handle = window()->windowHandle();
        if (handle && handle->isExposed())
            return true;
        if (deadline.hasExpired())
            return false;
        settle(10);
    }
}

bool BenchLauncher::showServerPane()
{
    ToolbarItem *item = launcher()->toolBarItems().value(QStringLiteral("2"), nullptr);
    if (!item || !console())
        return false;
    item->trigger();
    return console()->isVisible();
}

void BenchLauncher::settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
