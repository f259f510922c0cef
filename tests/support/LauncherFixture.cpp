#include "LauncherFixture.h"

#include "LauncherPaths.h"
#include "Preferences.h"
#include "ProcessTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

namespace LauncherFixture {

namespace {

QSettings userSettings()
{
    return QSettings(Preferences::standardFileName(), QSettings::IniFormat);
}

// Makes the folder the game executable of `executablePath` lies in, and returns the game's path.
QString prepareGameFolder(const QString &executablePath)
{
    const QString game = gameExecutableOf(executablePath);
    QDir().mkpath(QFileInfo(game).path());
    QFile::remove(game);
    return game;
}

QString launcherIn(const QString &folder)
{
    return folder + QStringLiteral("/velmora-launcher");
}

} // namespace

void usePrivatePreferences(const QString &configHome)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    // Server logs go beside them, never among the user's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(configHome + QStringLiteral("/state")));
    // A server that falls in a test must not reach the desktop of whoever runs it: the session
    // bus is one that is not there, unless a test starts its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName(QStringLiteral("unix:path=") +
                                                          configHome + QStringLiteral("/no-bus")));
}

void clearPreferences()
{
    // A test may have left a folder, a pipe or a link there; the settings below must not open it.
    const QFileInfo left(preferencesFile());
    if (left.isDir() && !left.isSymLink())
        QDir(left.filePath()).removeRecursively();
    else if (left.isSymLink() || (left.exists() && !left.isFile()))
        QFile::remove(left.filePath());
    Preferences::forgetSession(preferencesFile());
    QSettings settings = userSettings();
    settings.clear();
    settings.sync();
}

void storePreferences(std::initializer_list<std::pair<QString, QVariant>> values)
{
    Preferences prefs;
    for (const auto &[key, value] : values) {
        if (value.typeId() == QMetaType::Int)
            prefs.setInteger(key, value.toInt());
        else
            prefs.setString(key, value.toString());
    }
    prefs.sync();
}

QString preferencesFile()
{
    return Preferences::standardFileName();
}

QString gameExecutableOf(const QString &executablePath)
{
    return LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(executablePath));
}

QString makeLauncherFolder(const QString &folder)
{
    const QString exe = launcherIn(folder);
    const QString exeDir = QFileInfo(prepareGameFolder(exe)).path();
    const QString builtLauncher =
        QString::fromLocal8Bit(qgetenv("VELMORA_BUILD_DIR")) + QStringLiteral("/velmora-launcher");
    // The stand-in is two programs: the game and the window it becomes.
    const QDir built(QFileInfo(gameExecutableOf(builtLauncher)).path());
    for (const QString &name : built.entryList(QDir::Files | QDir::Executable)) {
        QFile::remove(exeDir + u'/' + name);
        QFile::copy(built.filePath(name), exeDir + u'/' + name);
        QFile::setPermissions(exeDir + u'/' + name, QFile::permissions(built.filePath(name)));
    }
    return exe;
}

QString makeLauncherFolderWithGame(const QString &folder, const QString &program)
{
    const QString exe = launcherIn(folder);
    const QString game = prepareGameFolder(exe);
    // A missing program would only show later as a game that never speaks.
    if (!QFile::copy(program, game))
        qWarning("cannot copy %s", qPrintable(program));
    QFile::setPermissions(game, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return exe;
}

void addBreakageRows()
{
    QTest::addColumn<QString>("breakage");
    QTest::newRow("game executable missing") << QStringLiteral("missing");
    QTest::newRow("game executable not executable") << QStringLiteral("not executable");
    QTest::newRow("game directory missing") << QStringLiteral("no directory");
}

QString makeBrokenLauncherFolder(const QString &folder, const QString &breakage)
{
    const QString exe = makeLauncherFolder(folder);
    const QString game = gameExecutableOf(exe);
    bool broken = false;
    if (breakage == u"missing")
        broken = QFile::remove(game);
    else if (breakage == u"not executable")
        broken = QFile::setPermissions(game, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    else
        broken = QDir(LauncherPaths::gameDirectory(exe)).removeRecursively();
    return broken ? exe : QString();
}

QJsonObject waitForRecord(const QString &file)
{
    if (!QTest::qWaitFor([&] { return QFile::exists(file); }, Patience))
        qWarning("no record at %s", qPrintable(file));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

QStringList strings(const QJsonValue &array)
{
    QStringList out;
    for (const QJsonValue &v : array.toArray())
        out << v.toString();
    return out;
}

std::unique_ptr<Window> openWindow(const QString &executablePath,
                                   std::unique_ptr<FakeDisplayModes> fake)
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
