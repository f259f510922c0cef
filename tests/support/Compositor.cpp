#include "Compositor.h"

#include "ProcessTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using ProcessTestSupport::runTool;

namespace {

// Generous: the machine may be busy with other builds, and llvmpipe start-up is slow.
constexpr int StartTimeoutMs = 90000;
constexpr int StopTimeoutMs = 10000;
constexpr int PollIntervalMs = 100;

const QString MutterService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString MutterPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
const QString SocketName = QStringLiteral("wl-velmora");

// A session bus that knows no services to activate, so nothing starts behind the test's back.
const char BusConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

// Every compositor leads its own process group, so that stopping it also ends what it started
// (Xwayland, helpers), and dies with the test even when the test is killed.
void startOwnGroup(QProcess &process)
{
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
}

void endGroup(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    const pid_t pid = static_cast<pid_t>(process.processId());
    ::kill(-pid, SIGCONT);
    ::kill(-pid, SIGTERM);
    if (!process.waitForFinished(StopTimeoutMs)) {
        ::kill(-pid, SIGKILL);
        process.waitForFinished(StopTimeoutMs);
    }
    // Helpers that outlived their leader.
    ::kill(-pid, SIGKILL);
}

// A command line of words without spaces, written as one.
QStringList words(const QString &line)
{
    return line.split(QLatin1Char(' '));
}

// `gdbus call` on the session bus, as a command line.
QStringList busCall(const QString &destination, const QString &path, const QString &method,
                    const QStringList &args = {})
{
    return words(QStringLiteral("gdbus call --session --dest %1 --object-path %2 --method %3")
                     .arg(destination, path, method)) +
           args;
}

const QStringList MutterState =
    busCall(MutterService, MutterPath, MutterService + QStringLiteral(".GetCurrentState"));

using Displays = Compositor::Displays;

// Active monitors of a GetCurrentState reply as gdbus prints it: the monitors that a logical
// monitor shows, each with every mode's size.
Displays mutterDisplays(const QByteArray &state)
{
    const QString text = QString::fromUtf8(state);
    static const QRegularExpression monitor(
        QStringLiteral("\\(\\('([^']*)', '[^']*', '[^']*', '[^']*'\\), \\[(.*?)\\], \\{'is-"));
    static const QRegularExpression mode(QStringLiteral("\\('[^']*', (\\d+), (\\d+),"));
    // The logical monitors follow the monitors; a connector shown there is active.
    const qsizetype logicalStart =
        text.indexOf(QLatin1String("[("), text.indexOf(QLatin1String("'display-name'")));
    Displays displays;
    for (auto it = monitor.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString shown = QStringLiteral("[('%1',").arg(m.captured(1));
        if (logicalStart < 0 || text.indexOf(shown, logicalStart) < 0)
            continue;
        QList<QSize> sizes;
        for (auto modes = mode.globalMatch(m.captured(2)); modes.hasNext();) {
            const QRegularExpressionMatch mm = modes.next();
            sizes.append(QSize(mm.captured(1).toInt(), mm.captured(2).toInt()));
        }
        displays.append(sizes);
    }
    return displays;
}

// Active outputs of a GET_OUTPUTS reply: their modes, or the current mode when none is listed.
Displays swayDisplays(const QByteArray &json)
{
    Displays displays;
    for (const QJsonValue &value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject output = value.toObject();
        if (!output.value(QLatin1String("active")).toBool())
            continue;
        QJsonArray modes = output.value(QLatin1String("modes")).toArray();
        if (modes.isEmpty())
            modes.append(output.value(QLatin1String("current_mode")));
        QList<QSize> sizes;
        for (const QJsonValue &mode : modes)
            sizes.append(
                QSize(mode[QLatin1String("width")].toInt(), mode[QLatin1String("height")].toInt()));
        displays.append(sizes);
    }
    return displays;
}

// Enabled screens of KWin's support information, which gdbus prints with its line breaks
// escaped. A virtual output's mode is its logical size at its scale, so that product is what
// KWin drives.
Displays kwinDisplays(const QByteArray &reply)
{
    static const QRegularExpression screen(QStringLiteral(
        "Enabled: (\\d)\\nGeometry: -?\\d+,-?\\d+,(\\d+)x(\\d+)\\nScale: ([0-9.]+)"));
    const QString text = QString::fromUtf8(QByteArray(reply).replace("\\n", "\n"));
    Displays displays;
    for (auto it = screen.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1) != QLatin1String("1"))
            continue;
        const double scale = m.captured(4).toDouble();
        displays.append({QSize(static_cast<int>(std::lround(m.captured(2).toInt() * scale)),
                               static_cast<int>(std::lround(m.captured(3).toInt() * scale)))});
    }
    return displays;
}

} // namespace

// One row per compositor: everything start() and the queries do differently for it.
struct Compositor::Driver
{
    const char *name;
    const char *executable; // looked up on the PATH
    const char *package;    // named when it is missing
    const char *busName;    // the name it takes on the bus once it answers
    // The command line and environment for the outputs asked for; may write into the session
    // folder.
    bool (Compositor::*prepare)(Launch *launch, QString *whyNot);
    // True once the compositor answers on its own interface.
    bool (Compositor::*answers)(QString *detail) const;
    // The command that prints its own report of the outputs, and the reading of that report.
    QStringList report;
    Displays (*readReport)(const QByteArray &text);
    // nullptr: the scale is fixed at start.
    bool (Compositor::*setScale)(double scale, int layoutMode, QString *whyNot);
};

const Compositor::Driver &Compositor::driver(Kind kind)
{
    static const Driver drivers[] = {
        {"mutter", "mutter", "mutter", "org.gnome.Mutter.DisplayConfig", &Compositor::prepareMutter,
         &Compositor::answersOnBus, MutterState, &mutterDisplays, &Compositor::setMutterScale},
        {"sway", "sway", "sway", "", &Compositor::prepareSway, &Compositor::answersOnSwayIpc,
         words("swaymsg -r -t get_outputs"), &swayDisplays, &Compositor::setSwayScale},
        {"KWin", "kwin_wayland", "kwin-wayland", "org.kde.KWin", &Compositor::prepareKWin,
         &Compositor::answersOnBus,
         busCall("org.kde.KWin", "/KWin", "org.kde.KWin.supportInformation"), &kwinDisplays,
         nullptr}};
    return drivers[static_cast<int>(kind)];
}

Compositor::Compositor() = default;

Compositor::~Compositor()
{
    stop();
}

QString Compositor::name(Kind kind)
{
    return QString::fromLatin1(driver(kind).name);
}

bool Compositor::isRunning() const
{
    return m_compositor.state() == QProcess::Running;
}

bool Compositor::start(const Options &options, QString *whyNot)
{
    stop();
    m_options = options;
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        *whyNot = QStringLiteral("no temporary folder");
        return false;
    }
    // Others (sway's unprivileged user) pass through to the runtime folder, which is theirs.
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0711);
    m_runtimeDir = m_dir->filePath(QStringLiteral("runtime"));
    QDir().mkpath(m_runtimeDir);
    ::chmod(QFile::encodeName(m_runtimeDir).constData(), 0700);
    QDir().mkpath(m_dir->filePath(QStringLiteral("home")));
    QDir().mkpath(m_dir->filePath(QStringLiteral("config")));

    const Driver &d = driver(options.kind);
    Launch launch{QStandardPaths::findExecutable(QString::fromLatin1(d.executable)), {}, {}};
    if (launch.program.isEmpty()) {
        *whyNot = QStringLiteral("%1 is not installed (package %2)")
                      .arg(QLatin1String(d.executable), QLatin1String(d.package));
        return false;
    }
    bool ok = startBus(whyNot);
    if (ok) {
        launch.env = sessionEnvironment();
        ok = (this->*d.prepare)(&launch, whyNot) && startProcess(launch, whyNot) &&
             waitUntil(
                 name(options.kind) + QStringLiteral(" to answer"),
                 [this, &d](QString *detail) { return (this->*d.answers)(detail); }, whyNot) &&
             waitUntil(
                 QStringLiteral("a Wayland socket"),
                 [this](QString *) { return findWaylandSocket(); }, whyNot) &&
             (!options.xwayland || waitUntil(
                                       QStringLiteral("Xwayland"),
                                       [this](QString *) { return findXwayland(); }, whyNot));
    }
    if (!ok) {
        *whyNot += QStringLiteral("\n") +
                   ProcessTestSupport::logTail(m_dir->filePath(QStringLiteral("compositor.log")));
        stop();
    }
    return ok;
}

void Compositor::stop()
{
    endGroup(m_compositor);
    endGroup(m_bus);
    m_busAddress.clear();
    m_waylandSocket.clear();
    m_swaySocket.clear();
    m_xDisplay.clear();
    m_xAuthority.clear();
    m_dir.reset();
}

QProcessEnvironment Compositor::sessionEnvironment() const
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"),
               qEnvironmentVariable("PATH", QStringLiteral("/usr/bin:/bin")));
    env.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    if (!m_busAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QString::fromLocal8Bit(m_busAddress));
    for (const char *keep : {"LANG", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(keep))
            env.insert(QString::fromLatin1(keep), qEnvironmentVariable(keep));
    }
    return env;
}

QProcessEnvironment Compositor::clientEnvironment(const QString &platform) const
{
    QProcessEnvironment env = sessionEnvironment();
    // The client's own runtime folder: Qt insists on owning it, and sway's belongs to another
    // user. The compositor is reached through absolute paths.
    const QString clientRuntime = m_dir->filePath(QStringLiteral("client-runtime"));
    QDir().mkpath(clientRuntime);
    ::chmod(QFile::encodeName(clientRuntime).constData(), 0700);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), clientRuntime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    if (!m_waylandSocket.isEmpty())
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandSocket);
    if (!m_swaySocket.isEmpty())
        env.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
    if (!m_xDisplay.isEmpty()) {
        env.insert(QStringLiteral("DISPLAY"), m_xDisplay);
        env.insert(QStringLiteral("XAUTHORITY"), m_xAuthority);
    }
    return env;
}

bool Compositor::run(const QString &program, const QStringList &args, QByteArray *output,
                     QString *whyNot) const
{
    return runTool(program, args, clientEnvironment(QStringLiteral("offscreen")), output, whyNot);
}

bool Compositor::run(const QStringList &command, QByteArray *output, QString *whyNot) const
{
    return run(command.first(), command.mid(1), output, whyNot);
}

bool Compositor::startProcess(const Launch &launch, QString *whyNot)
{
    startOwnGroup(m_compositor);
    m_compositor.setProcessEnvironment(launch.env);
    m_compositor.setProcessChannelMode(QProcess::MergedChannels);
    m_compositor.setStandardOutputFile(m_dir->filePath(QStringLiteral("compositor.log")));
    m_compositor.start(launch.program, launch.args);
    if (!m_compositor.waitForStarted(StartTimeoutMs)) {
        *whyNot = launch.program + QStringLiteral(" did not start: ") + m_compositor.errorString();
        return false;
    }
    return true;
}

bool Compositor::startBus(QString *whyNot)
{
    const QString config = m_dir->filePath(QStringLiteral("bus.conf"));
    if (!writeFile(config, QString::fromLatin1(BusConfig).arg(m_runtimeDir).toUtf8())) {
        *whyNot = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    startOwnGroup(m_bus);
    m_bus.setProcessChannelMode(QProcess::SeparateChannels);
    m_bus.setStandardErrorFile(QProcess::nullDevice());
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    m_busAddress = ProcessTestSupport::readFirstLine(m_bus, StartTimeoutMs);
    if (m_busAddress.isEmpty()) {
        *whyNot = QStringLiteral("the private session bus (dbus-daemon) did not start: ") +
                  m_bus.errorString();
        return false;
    }
    return true;
}

template <typename Ready>
bool Compositor::waitUntil(const QString &what, Ready ready, QString *whyNot) const
{
    QString detail;
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (!isRunning()) {
            *whyNot = QStringLiteral("the compositor ended while waiting for %1").arg(what);
            return false;
        }
        if (ready(&detail))
            return true;
        QThread::msleep(PollIntervalMs);
    }
    *whyNot = QStringLiteral("no %1 in time %2").arg(what, detail);
    return false;
}

bool Compositor::answersOnBus(QString *detail) const
{
    QByteArray answer;
    return run(busCall(QStringLiteral("org.freedesktop.DBus"),
                       QStringLiteral("/org/freedesktop/DBus"),
                       QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                       {QString::fromLatin1(driver(m_options.kind).busName)}),
               &answer, detail) &&
           answer.contains("true");
}

bool Compositor::answersOnSwayIpc(QString *detail) const
{
    return QFile::exists(m_swaySocket) &&
           run(words(QStringLiteral("swaymsg -t get_version")), nullptr, detail);
}

bool Compositor::findWaylandSocket()
{
    const QStringList sockets =
        QDir(m_runtimeDir)
            .entryList({QStringLiteral("wayland-*"), SocketName}, QDir::System | QDir::Files);
    for (const QString &entry : sockets) {
        if (!entry.endsWith(QLatin1String(".lock"))) {
            m_waylandSocket = QDir(m_runtimeDir).filePath(entry);
            return true;
        }
    }
    return false;
}

// mutter names its Xwayland display in its log and leaves the authority file in the runtime
// folder; the server is up once xrandr gets an answer from it.
bool Compositor::findXwayland()
{
    static const QRegularExpression announced(QStringLiteral("Using public X11 display (:\\d+)"));
    QFile log(m_dir->filePath(QStringLiteral("compositor.log")));
    if (m_xDisplay.isEmpty() && log.open(QIODevice::ReadOnly))
        m_xDisplay = announced.match(QString::fromLocal8Bit(log.readAll())).captured(1);
    const QStringList auth =
        QDir(m_runtimeDir)
            .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
    if (m_xDisplay.isEmpty() || auth.isEmpty())
        return false;
    m_xAuthority = QDir(m_runtimeDir).filePath(auth.first());
    QString ignored;
    return run(QStringLiteral("xrandr"), {}, nullptr, &ignored);
}

bool Compositor::prepareMutter(Launch *launch, QString *whyNot)
{
    if (m_options.xwayland) {
        // Xwayland needs the shared socket folder open to all, as the system sets it up; mutter
        // would create it with the umask's permissions and then refuse it.
        const QByteArray x11 = "/tmp/.X11-unix";
        if (::mkdir(x11.constData(), 01777) == 0)
            ::chmod(x11.constData(), 01777);
        struct stat st
        {};
        if (::stat(x11.constData(), &st) != 0 || (st.st_mode & 01777) != 01777) {
            *whyNot = QStringLiteral("/tmp/.X11-unix is not world-writable, Xwayland cannot run");
            return false;
        }
    }
    // Fractional scales in the logical layout are an experimental feature, read from the
    // settings the moment mutter starts.
    if (!runTool(QStringLiteral("gsettings"),
                 words(QStringLiteral(
                     "set org.gnome.mutter experimental-features ['scale-monitor-framebuffer']")),
                 launch->env, nullptr, whyNot))
        return false;
    launch->args = words(QStringLiteral("--headless --wayland --wayland-display=") + SocketName);
    if (!m_options.xwayland)
        launch->args << QStringLiteral("--no-x11");
    for (const QSize &size : m_options.outputs)
        launch->args << QStringLiteral("--virtual-monitor")
                     << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    return true;
}

bool Compositor::prepareSway(Launch *launch, QString *whyNot)
{
    QByteArray config = "xwayland disable\n";
    int x = 0;
    for (int i = 0; i < m_options.outputs.size(); ++i) {
        const QSize size = m_options.outputs.at(i);
        config += QStringLiteral("output HEADLESS-%1 mode %2x%3 position %4 0\n")
                      .arg(i + 1)
                      .arg(size.width())
                      .arg(size.height())
                      .arg(x)
                      .toUtf8();
        x += size.width();
    }
    const QString configPath = m_dir->filePath(QStringLiteral("sway.conf"));
    if (!writeFile(configPath, config)) {
        *whyNot = QStringLiteral("cannot write sway's configuration");
        return false;
    }
    ::chmod(QFile::encodeName(configPath).constData(), 0644);
    m_swaySocket = QDir(m_runtimeDir).filePath(QStringLiteral("sway-ipc.sock"));

    QProcessEnvironment &env = launch->env;
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QString::number(m_options.outputs.size()));
    env.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    launch->args = QStringList{QStringLiteral("-c"), configPath};
    if (::geteuid() != 0)
        return true;

    // sway refuses to run as root: it runs as nobody, in a runtime folder of nobody's.
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody) {
        *whyNot = QStringLiteral("sway refuses root and there is no user 'nobody' to run it");
        return false;
    }
    if (::chown(QFile::encodeName(m_runtimeDir).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
        *whyNot = QStringLiteral("cannot hand the runtime folder to nobody");
        return false;
    }
    env.insert(QStringLiteral("HOME"), m_runtimeDir);
    // A change of user clears the parent-death signal; setpriv sets it anew.
    launch->args = words(QStringLiteral("--reuid=%1 --regid=%2 --clear-groups --pdeathsig KILL --")
                             .arg(nobody->pw_uid)
                             .arg(nobody->pw_gid)) +
                   QStringList{launch->program} + launch->args;
    launch->program = QStringLiteral("setpriv");
    return true;
}

bool Compositor::prepareKWin(Launch *launch, QString *whyNot)
{
    // KWin's platform plugin serves only an executable of that name: the copy keeps it.
    const QString binDir = m_dir->filePath(QStringLiteral("bin"));
    QDir().mkpath(binDir);
    const QString copy = QDir(binDir).filePath(QStringLiteral("kwin_wayland"));
    if (!QFile::copy(launch->program, copy)) {
        *whyNot = QStringLiteral("cannot copy kwin_wayland");
        return false;
    }
    launch->program = copy;
    const QSize size = m_options.outputs.value(0, QSize(1024, 768));
    launch->args = words(QStringLiteral("--virtual --width %1 --height %2 --scale %3 "
                                        "--output-count %4 --socket %5 --no-lockscreen "
                                        "--no-global-shortcuts --no-kactivities")
                             .arg(size.width())
                             .arg(size.height())
                             .arg(m_options.kwinScale)
                             .arg(m_options.outputs.size())
                             .arg(SocketName));
    return true;
}

bool Compositor::reportedDisplays(Displays *displays, QString *whyNot) const
{
    const Driver &d = driver(m_options.kind);
    QByteArray text;
    if (!run(d.report, &text, whyNot))
        return false;
    *displays = d.readReport(text);
    return true;
}

bool Compositor::setScale(double scale, int layoutMode, QString *whyNot)
{
    const Driver &d = driver(m_options.kind);
    if (!d.setScale) {
        *whyNot = name(m_options.kind) + QStringLiteral("'s scale is fixed at start");
        return false;
    }
    return (this->*d.setScale)(scale, layoutMode, whyNot);
}

bool Compositor::setSwayScale(double scale, int, QString *whyNot)
{
    return run(words(QStringLiteral("swaymsg output HEADLESS-1 scale %1").arg(scale)), nullptr,
               whyNot);
}

bool Compositor::setMutterScale(double scale, int layoutMode, QString *whyNot)
{
    QByteArray state;
    if (!run(MutterState, &state, whyNot))
        return false;
    const QString text = QString::fromUtf8(state);
    const QRegularExpressionMatch serial =
        QRegularExpression(QStringLiteral("^\\(uint32 (\\d+),")).match(text);
    // Each monitor's identity (connector, vendor, product, serial), then its first mode: id, width,
    // height, refresh, preferred scale, supported scales. Virtual monitors have exactly one mode.
    static const QRegularExpression monitor(
        QStringLiteral("\\(\\('([^']*)', '[^']*', '[^']*', '[^']*'\\), \\[\\('([^']*)', (\\d+), "
                       "(\\d+), [0-9.]+, [0-9.]+, \\[([^\\]]*)\\]"));
    QString logical;
    int x = 0;
    bool first = true;
    for (auto it = monitor.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        double chosen = 1.0;
        if (first) {
            // The supported scale nearest to the one asked for (mutter lists e.g. 1.7391...).
            double best = 1e9;
            for (const QString &value : m.captured(5).split(QLatin1Char(','))) {
                const double candidate = value.trimmed().toDouble();
                if (std::abs(candidate - scale) < best) {
                    best = std::abs(candidate - scale);
                    chosen = candidate;
                }
            }
        }
        if (!logical.isEmpty())
            logical += QLatin1Char(',');
        logical += QStringLiteral("(%1, 0, %2, 0, %3, [('%4', '%5', {})])")
                       .arg(x)
                       .arg(chosen, 0, 'g', 17)
                       .arg(first ? QStringLiteral("true") : QStringLiteral("false"), m.captured(1),
                            m.captured(2));
        const int width = m.captured(3).toInt();
        x += layoutMode == 1 ? static_cast<int>(std::lround(width / chosen)) : width;
        first = false;
    }
    if (!serial.hasMatch() || logical.isEmpty()) {
        *whyNot = QStringLiteral("cannot read mutter's state: ") + text;
        return false;
    }
    // Method 1 applies the configuration for now, without the confirmation that a persistent
    // one waits for.
    return run(busCall(MutterService, MutterPath,
                       MutterService + QStringLiteral(".ApplyMonitorsConfig"),
                       {serial.captured(1), QStringLiteral("1"),
                        QLatin1Char('[') + logical + QLatin1Char(']'),
                        QStringLiteral("{'layout-mode': <uint32 %1>}").arg(layoutMode)}),
               nullptr, whyNot);
}

void Compositor::pause()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_compositor.processId()), SIGSTOP);
}

void Compositor::resume()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_compositor.processId()), SIGCONT);
}
