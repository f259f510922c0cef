#include "Compositor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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

namespace {

// Generous: the machine may be busy with other builds, and llvmpipe start-up is slow.
constexpr int StartTimeoutMs = 90000;
constexpr int StopTimeoutMs = 10000;
constexpr int ToolTimeoutMs = 30000;
constexpr int PollIntervalMs = 100;

const QString MutterService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
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

} // namespace

Compositor::Compositor() = default;

Compositor::~Compositor()
{
    stop();
}

QString Compositor::name(Kind kind)
{
    switch (kind) {
    case Kind::Mutter:
        return QStringLiteral("mutter");
    case Kind::Sway:
        return QStringLiteral("sway");
    case Kind::KWin:
        return QStringLiteral("KWin");
    }
    return {};
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

    bool ok = startBus(whyNot);
    if (ok) {
        switch (options.kind) {
        case Kind::Mutter:
            ok = startMutter(whyNot);
            break;
        case Kind::Sway:
            ok = startSway(whyNot);
            break;
        case Kind::KWin:
            ok = startKWin(whyNot);
            break;
        }
    }
    if (!ok) {
        *whyNot += QStringLiteral("\n") + logTail();
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
    m_mutterSerial = 0;
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
        const QString name = QString::fromLatin1(keep);
        if (qEnvironmentVariableIsSet(keep))
            env.insert(name, qEnvironmentVariable(keep));
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
    QProcess tool;
    tool.setProcessEnvironment(clientEnvironment(QStringLiteral("offscreen")));
    tool.start(program, args);
    if (!tool.waitForFinished(ToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        *whyNot = QStringLiteral("%1 %2 failed: %3 %4")
                      .arg(program, args.join(QLatin1Char(' ')), tool.errorString(),
                           QString::fromLocal8Bit(tool.readAllStandardError()));
        if (tool.state() != QProcess::NotRunning) {
            tool.kill();
            tool.waitForFinished(StopTimeoutMs);
        }
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return true;
}

bool Compositor::startProcess(const QString &program, const QStringList &args,
                              const QProcessEnvironment &env, QString *whyNot)
{
    startOwnGroup(m_compositor);
    m_compositor.setProcessEnvironment(env);
    m_compositor.setProcessChannelMode(QProcess::MergedChannels);
    m_compositor.setStandardOutputFile(m_dir->filePath(QStringLiteral("compositor.log")));
    m_compositor.start(program, args);
    if (!m_compositor.waitForStarted(StartTimeoutMs)) {
        *whyNot = program + QStringLiteral(" did not start: ") + m_compositor.errorString();
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
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!m_bus.canReadLine() && !deadline.hasExpired() && m_bus.state() != QProcess::NotRunning)
        m_bus.waitForReadyRead(PollIntervalMs);
    m_busAddress = m_bus.readLine().trimmed();
    if (m_busAddress.isEmpty()) {
        *whyNot = QStringLiteral("the private session bus (dbus-daemon) did not start: ") +
                  m_bus.errorString();
        return false;
    }
    return true;
}

bool Compositor::waitForBusName(const QString &name, QString *whyNot) const
{
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (!isRunning()) {
            *whyNot = QStringLiteral("the compositor ended while starting");
            return false;
        }
        QByteArray answer;
        QString ignored;
        if (run(QStringLiteral("gdbus"),
                {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                 QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
                 QStringLiteral("org.freedesktop.DBus.NameHasOwner"), name},
                &answer, &ignored) &&
            answer.contains("true"))
            return true;
        QThread::msleep(PollIntervalMs);
    }
    *whyNot = QStringLiteral("the compositor did not take %1 on the bus in time").arg(name);
    return false;
}

bool Compositor::waitForWaylandSocket(QString *whyNot)
{
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && isRunning()) {
        const QStringList sockets =
            QDir(m_runtimeDir)
                .entryList({QStringLiteral("wayland-*"), SocketName}, QDir::System | QDir::Files);
        for (const QString &entry : sockets) {
            if (!entry.endsWith(QLatin1String(".lock"))) {
                m_waylandSocket = QDir(m_runtimeDir).filePath(entry);
                return true;
            }
        }
        QThread::msleep(PollIntervalMs);
    }
    *whyNot = QStringLiteral("no Wayland socket appeared");
    return false;
}

bool Compositor::startMutter(QString *whyNot)
{
    const QString mutter = QStandardPaths::findExecutable(QStringLiteral("mutter"));
    if (mutter.isEmpty()) {
        *whyNot = QStringLiteral("mutter is not installed (package mutter)");
        return false;
    }
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
    const QProcessEnvironment env = sessionEnvironment();
    // Fractional scales in the logical layout are an experimental feature, read from the
    // settings the moment mutter starts.
    QProcess gsettings;
    gsettings.setProcessEnvironment(env);
    gsettings.start(QStringLiteral("gsettings"),
                    {QStringLiteral("set"), QStringLiteral("org.gnome.mutter"),
                     QStringLiteral("experimental-features"),
                     QStringLiteral("['scale-monitor-framebuffer']")});
    if (!gsettings.waitForFinished(ToolTimeoutMs) || gsettings.exitCode() != 0) {
        *whyNot = QStringLiteral("gsettings failed: ") +
                  QString::fromLocal8Bit(gsettings.readAllStandardError());
        return false;
    }
    QStringList args{QStringLiteral("--headless"), QStringLiteral("--wayland"),
                     QStringLiteral("--wayland-display=") + SocketName};
    if (!m_options.xwayland)
        args << QStringLiteral("--no-x11");
    for (const QSize &size : m_options.outputs)
        args << QStringLiteral("--virtual-monitor")
             << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    if (!startProcess(mutter, args, env, whyNot) || !waitForBusName(MutterService, whyNot) ||
        !waitForWaylandSocket(whyNot))
        return false;
    return !m_options.xwayland || waitForXwayland(whyNot);
}

bool Compositor::waitForXwayland(QString *whyNot)
{
    static const QRegularExpression announced(QStringLiteral("Using public X11 display (:\\d+)"));
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && isRunning()) {
        QFile log(m_dir->filePath(QStringLiteral("compositor.log")));
        if (m_xDisplay.isEmpty() && log.open(QIODevice::ReadOnly))
            m_xDisplay = announced.match(QString::fromLocal8Bit(log.readAll())).captured(1);
        const QStringList auth =
            QDir(m_runtimeDir)
                .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
        if (!m_xDisplay.isEmpty() && !auth.isEmpty()) {
            m_xAuthority = QDir(m_runtimeDir).filePath(auth.first());
            QString ignored;
            if (run(QStringLiteral("xrandr"), {}, nullptr, &ignored))
                return true;
        }
        QThread::msleep(PollIntervalMs);
    }
    *whyNot = QStringLiteral("mutter's Xwayland did not come up");
    return false;
}

bool Compositor::startSway(QString *whyNot)
{
    const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
    if (sway.isEmpty()) {
        *whyNot = QStringLiteral("sway is not installed (package sway)");
        return false;
    }
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

    QProcessEnvironment env = sessionEnvironment();
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QString::number(m_options.outputs.size()));
    env.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    QString program = sway;
    QStringList args{QStringLiteral("-c"), configPath};
    if (::geteuid() == 0) {
        // sway refuses to run as root: it runs as nobody, in a runtime folder of nobody's.
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody) {
            *whyNot = QStringLiteral("sway refuses root and there is no user 'nobody' to run it");
            return false;
        }
        if (::chown(QFile::encodeName(m_runtimeDir).constData(), nobody->pw_uid, nobody->pw_gid) !=
            0) {
            *whyNot = QStringLiteral("cannot hand the runtime folder to nobody");
            return false;
        }
        env.insert(QStringLiteral("HOME"), m_runtimeDir);
        args.prepend(sway);
        args = QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                           QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                           QStringLiteral("--clear-groups"),
                           // A change of user clears the parent-death signal; setpriv sets it anew.
                           QStringLiteral("--pdeathsig"), QStringLiteral("KILL"),
                           QStringLiteral("--")} +
               args;
        program = QStringLiteral("setpriv");
    }
    if (!startProcess(program, args, env, whyNot))
        return false;
    const QDeadlineTimer deadline(StartTimeoutMs);
    QString lastError;
    while (!deadline.hasExpired() && isRunning()) {
        if (QFile::exists(m_swaySocket) &&
            run(QStringLiteral("swaymsg"), {QStringLiteral("-t"), QStringLiteral("get_version")},
                nullptr, &lastError))
            return waitForWaylandSocket(whyNot);
        QThread::msleep(PollIntervalMs);
    }
    *whyNot = QStringLiteral("sway did not answer on its IPC socket: ") + lastError;
    return false;
}

bool Compositor::startKWin(QString *whyNot)
{
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
    if (installed.isEmpty()) {
        *whyNot = QStringLiteral("kwin_wayland is not installed (package kwin-wayland)");
        return false;
    }
    // KWin's platform plugin serves only an executable of that name: the copy keeps it.
    const QString binDir = m_dir->filePath(QStringLiteral("bin"));
    QDir().mkpath(binDir);
    const QString copy = QDir(binDir).filePath(QStringLiteral("kwin_wayland"));
    if (!QFile::copy(installed, copy)) {
        *whyNot = QStringLiteral("cannot copy kwin_wayland");
        return false;
    }
    const QSize size = m_options.outputs.value(0, QSize(1024, 768));
    const QStringList args{QStringLiteral("--virtual"),
                           QStringLiteral("--width"),
                           QString::number(size.width()),
                           QStringLiteral("--height"),
                           QString::number(size.height()),
                           QStringLiteral("--scale"),
                           QString::number(m_options.kwinScale),
                           QStringLiteral("--output-count"),
                           QString::number(m_options.outputs.size()),
                           QStringLiteral("--socket"),
                           SocketName,
                           QStringLiteral("--no-lockscreen"),
                           QStringLiteral("--no-global-shortcuts"),
                           QStringLiteral("--no-kactivities")};
    return startProcess(copy, args, sessionEnvironment(), whyNot) &&
           waitForBusName(QStringLiteral("org.kde.KWin"), whyNot) && waitForWaylandSocket(whyNot);
}

bool Compositor::mutterState(QByteArray *text, QString *whyNot) const
{
    return run(QStringLiteral("gdbus"),
               {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                MutterService, QStringLiteral("--object-path"),
                QStringLiteral("/org/gnome/Mutter/DisplayConfig"), QStringLiteral("--method"),
                MutterService + QStringLiteral(".GetCurrentState")},
               text, whyNot);
}

bool Compositor::setMutterScale(double scale, int layoutMode, QString *whyNot)
{
    QByteArray state;
    if (!mutterState(&state, whyNot))
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
    return run(QStringLiteral("gdbus"),
               {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                MutterService, QStringLiteral("--object-path"),
                QStringLiteral("/org/gnome/Mutter/DisplayConfig"), QStringLiteral("--method"),
                MutterService + QStringLiteral(".ApplyMonitorsConfig"), serial.captured(1),
                QStringLiteral("1"), QLatin1Char('[') + logical + QLatin1Char(']'),
                QStringLiteral("{'layout-mode': <uint32 %1>}").arg(layoutMode)},
               nullptr, whyNot);
}

bool Compositor::swayOutputs(QByteArray *json, QString *whyNot) const
{
    return run(QStringLiteral("swaymsg"),
               {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_outputs")}, json,
               whyNot);
}

bool Compositor::swayOutput(const QString &output, const QStringList &args, QString *whyNot) const
{
    return run(QStringLiteral("swaymsg"), QStringList{QStringLiteral("output"), output} + args,
               nullptr, whyNot);
}

bool Compositor::kwinSupportInformation(QByteArray *text, QString *whyNot) const
{
    QByteArray reply;
    if (!run(QStringLiteral("gdbus"),
             {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
              QStringLiteral("org.kde.KWin"), QStringLiteral("--object-path"),
              QStringLiteral("/KWin"), QStringLiteral("--method"),
              QStringLiteral("org.kde.KWin.supportInformation")},
             &reply, whyNot))
        return false;
    // gdbus prints the string with its line breaks escaped.
    *text = reply.replace("\\n", "\n");
    return true;
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

QString Compositor::logTail() const
{
    if (!m_dir)
        return {};
    QFile log(m_dir->filePath(QStringLiteral("compositor.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no compositor log)");
    const QList<QByteArray> lines = log.readAll().split('\n');
    return QString::fromLocal8Bit(lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join('\n'));
}
