#pragma once

#include <QString>
#include <QVariant>

#include <memory>

class ConsoleView;
class QCommandLineParser;
class Launcher;
class LauncherInterface;
class QMainWindow;

// The real launcher window, built in-process the way main() builds it, for benchmarks that need
// to press its buttons and watch its console. Only two seams are set: the launcher executable is
// taken to be the one in the build folder (so the stand-in game beside it is the one started),
// and ending the application is counted instead of quitting the benchmark.
//
// Call order: usePrivatePreferences() before the QApplication exists; setPreference() as needed;
// then construct, show() and drive it.
class BenchLauncher
{
public:
    // Points the user's preferences at `configHome`, so that the user's own are neither read nor
    // changed.
    static void usePrivatePreferences(const QString &configHome);
    static void setPreference(const QString &key, const QVariant &value);
    // The launcher executable in the build folder; the game directory lies beside it.
    static QString launcherExecutable();
    // The options every flood benchmark takes: --lines (how many the stand-in floods) and
    // --timeout-ms (when to give up).
    static void addFloodOptions(QCommandLineParser &parser);

    BenchLauncher();
    ~BenchLauncher();
    BenchLauncher(const BenchLauncher &) = delete;
    BenchLauncher &operator=(const BenchLauncher &) = delete;

    Launcher *launcher() const;
    QMainWindow *window() const;
    ConsoleView *console() const;
    int terminateCalls() const { return m_terminateCalls; }

    // Shows the window and runs the event loop until it is exposed; false after `timeoutMs`.
    bool show(int timeoutMs);
    // Switches to the Server pane through its toolbar item, as a click would; returns once the
    // window's resize has finished. False when the item or the console is missing.
    bool showServerPane();
    // Runs the event loop for `ms` milliseconds.
    static void settle(int ms);

private:
    std::unique_ptr<LauncherInterface> m_interface;
    int m_terminateCalls = 0;
};
