#pragma once

// Shared set-up for tests that drive the whole launcher window in-process: private preferences,
// a launcher folder of the test's choosing beside a copy of the stand-in game, and seams for the
// display modes and for ending the application.

#include "FakeDisplayModes.h"
#include "Launcher.h"
#include "LauncherInterface.h"
#include "LauncherPaths.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace LauncherFixture {

// Points the user's preferences at a private folder. Call before QApplication exists.
inline void usePrivatePreferences(const QString &configHome)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
}

inline void clearPreferences()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"),
                       QStringLiteral("Launcher"));
    settings.clear();
    settings.sync();
}

inline QString builtGame()
{
    return QString::fromLocal8Bit(qgetenv("VELMORA_BUILD_DIR")) +
           QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
}

// Lays out <folder>/Orvane/orvane.app/Contents/MacOS with the built stand-in copied into it, and
// returns the path the launcher executable is taken to have inside <folder>.
inline QString makeLauncherFolder(const QString &folder)
{
    const QString exeDir = folder + QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
    QDir().mkpath(exeDir);
    const QDir built(builtGame());
    for (const QString &name : built.entryList(QDir::Files | QDir::Executable)) {
        QFile::copy(built.filePath(name), exeDir + u'/' + name);
        QFile::setPermissions(exeDir + u'/' + name, QFile::permissions(built.filePath(name)));
    }
    return folder + QStringLiteral("/velmora-launcher");
}

// Rows naming the ways a player's game directory can be broken; see breakGame().
inline void addBreakageRows()
{
    QTest::addColumn<QString>("breakage");
    QTest::newRow("game executable missing") << QStringLiteral("missing");
    QTest::newRow("game executable not executable") << QStringLiteral("not executable");
    QTest::newRow("game directory missing") << QStringLiteral("no directory");
}

// Makes a launcher folder at `folder` whose game is broken as `breakage` says, and returns the
// launcher's executable path in it (empty when the folder could not be broken).
inline QString makeBrokenLauncherFolder(const QString &folder, const QString &breakage)
{
    const QString exe = makeLauncherFolder(folder);
    const QString game = LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(exe));
    bool broken = false;
    if (breakage == u"missing")
        broken = QFile::remove(game);
    else if (breakage == u"not executable")
        broken = QFile::setPermissions(game, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    else
        broken = QDir(folder + QStringLiteral("/Orvane")).removeRecursively();
    return broken ? exe : QString();
}

struct Window
{
    std::unique_ptr<LauncherInterface> interface;
    int terminateCalls = 0;

    Launcher *launcher() const { return interface->launcher(); }
};

// A launcher window whose displays are `fake` and whose executable lies at `executablePath`.
inline std::unique_ptr<Window> openWindow(const QString &executablePath,
                                          std::unique_ptr<FakeDisplayModes> fake = nullptr)
{
    auto w = std::make_unique<Window>();
    w->interface = std::make_unique<LauncherInterface>();
    if (!fake) {
        fake = std::make_unique<FakeDisplayModes>();
        fake->addDisplay({{1024, 768}, {800, 600}});
    }
    Launcher *launcher = w->interface->launcher();
    launcher->setDisplayModeSource(std::move(fake));
    Window *raw = w.get();
    launcher->setTerminateHandler([raw] { ++raw->terminateCalls; });
    launcher->setExecutablePathProvider([executablePath] { return executablePath; });
    launcher->awakeFromNib();
    return w;
}

} // namespace LauncherFixture
