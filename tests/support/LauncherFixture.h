#pragma once

// Shared set-up for tests that drive the whole launcher window in-process: private preferences,
// a launcher folder of the test's choosing beside a copy of the stand-in game, the stand-in's run
// records, and seams for the display modes and for ending the application.

#include "FakeDisplayModes.h"
#include "Launcher.h"
#include "LauncherInterface.h"
#include "ProcessTestSupport.h"

#include <QApplication>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>

#include <initializer_list>
#include <memory>
#include <utility>

namespace LauncherFixture {

// Points the user's preferences (and state, and session bus) at a private folder. Call before
// QApplication exists.
void usePrivatePreferences(const QString &configHome);
void clearPreferences();
// Stores each value as the binding would: an int as an integer, anything else as its text.
void storePreferences(std::initializer_list<std::pair<QString, QVariant>> values);
// The preferences file the launcher reads and writes.
QString preferencesFile();

// The game executable in the launcher folder whose launcher executable is `executablePath`.
QString gameExecutableOf(const QString &executablePath);
// Lays out the game directory under `folder` with the built stand-in copied into it, and returns
// the path the launcher executable is taken to have inside `folder`.
QString makeLauncherFolder(const QString &folder);
// A launcher folder `folder` whose game executable is a copy of `program` (a script, say).
QString makeLauncherFolderWithGame(const QString &folder, const QString &program);

// Rows naming the ways a player's game directory can be broken; see makeBrokenLauncherFolder().
void addBreakageRows();
// Makes a launcher folder at `folder` whose game is broken as `breakage` says, and returns the
// launcher's executable path in it (empty when the folder could not be broken).
QString makeBrokenLauncherFolder(const QString &folder, const QString &breakage);

using ProcessTestSupport::Patience;

// The stand-in's record of its run (ORVANE_RECORD); an empty object, which fails the caller's
// comparisons, when none comes.
QJsonObject waitForRecord(const QString &file);
QStringList strings(const QJsonValue &array);

struct Window
{
    std::unique_ptr<LauncherInterface> interface;
    int terminateCalls = 0;

    Launcher *launcher() const { return interface->launcher(); }
};

// A launcher window whose displays are `fake` (one display of 1024 x 768 and 800 x 600 when
// none is given) and whose executable lies at `executablePath`.
std::unique_ptr<Window> openWindow(const QString &executablePath,
                                   std::unique_ptr<FakeDisplayModes> fake = nullptr);

// The common main() of the window tests: private preferences, then the application, then the test.
template <typename Test>
int runWithPrivatePreferences(int argc, char **argv)
{
    QTemporaryDir config;
    usePrivatePreferences(config.path());
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace LauncherFixture

#define VELMORA_LAUNCHER_TEST_MAIN(TestClass)                                                      \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return LauncherFixture::runWithPrivatePreferences<TestClass>(argc, argv);                  \
    }
