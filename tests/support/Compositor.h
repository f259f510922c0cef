#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real headless Wayland compositor for tests, on a private session bus and in a runtime folder
// of its own, so that nothing of the machine's own session leaks in and parallel runs do not
// collide. What differs between compositors (command line, environment, how it tells it is
// ready, how it reports and rescales its outputs) is one row of a driver table in the .cpp:
//   - mutter: `--headless --wayland`, one `--virtual-monitor WxH` per output, with its Xwayland
//     when asked; fractional scales enabled through a keyfile settings backend.
//   - sway: the wlroots headless backend with software rendering, one headless output per
//     requested size; run as an unprivileged user when the test runs as root (sway refuses
//     root).
//   - KWin: `kwin_wayland --virtual`, from a plain copy of the binary (the installed one carries
//     a file capability that containers refuse to execute). Its virtual outputs all have the same
//     size, given in logical pixels, at one scale fixed at start.
//
// Call order: start(), then any of the queries and changes; stop() or the destructor ends the
// compositor with its whole process group and the bus, and waits for them.
class Compositor
{
public:
    enum class Kind
    {
        Mutter,
        Sway,
        KWin
    };

    struct Options
    {
        Kind kind = Kind::Mutter;
        // Output sizes in pixels (for KWin: all outputs get the first size, in logical pixels).
        QList<QSize> outputs;
        // KWin only: the scale of every output, fixed at start.
        double kwinScale = 1.0;
        // mutter only: start its Xwayland (otherwise --no-x11).
        bool xwayland = false;

        bool operator==(const Options &other) const
        {
            return kind == other.kind && outputs == other.outputs && kwinScale == other.kwinScale &&
                   xwayland == other.xwayland;
        }
    };

    // Each active output's mode sizes, in the compositor's order.
    using Displays = QList<QList<QSize>>;

    Compositor();
    ~Compositor();

    Compositor(const Compositor &) = delete;
    Compositor &operator=(const Compositor &) = delete;

    static QString name(Kind kind);

    // Starts the compositor and waits until it answers on its own interfaces. On failure returns
    // false with the reason (and the end of the compositor's log) in `whyNot`.
    bool start(const Options &options, QString *whyNot);
    void stop();

    bool isRunning() const;
    const Options &options() const { return m_options; }

    // The environment for a client of this session, starting from a clean one: the private bus,
    // an absolute WAYLAND_DISPLAY, sway's socket, and for mutter with Xwayland its DISPLAY and
    // XAUTHORITY. `platform` becomes QT_QPA_PLATFORM.
    QProcessEnvironment clientEnvironment(const QString &platform) const;

    // Runs a tool inside the session (gdbus, swaymsg, xrandr); its standard output or false with
    // the reason.
    bool run(const QString &program, const QStringList &args, QByteArray *output,
             QString *whyNot) const;

    // What the compositor itself says its active outputs offer (mutter: GetCurrentState; sway:
    // GET_OUTPUTS; KWin: its support information, whose logical size times scale is the mode).
    bool reportedDisplays(Displays *displays, QString *whyNot) const;

    // Puts the first output at `scale` and the others at 1. mutter takes the supported scale
    // nearest to it, in the logical (1) or physical (2) `layoutMode`; sway ignores the layout;
    // KWin's scale is fixed at start and cannot be changed here.
    bool setScale(double scale, int layoutMode, QString *whyNot);

    // Stops (SIGSTOP) or resumes (SIGCONT) the compositor, as a compositor that hangs.
    void pause();
    void resume();

private:
    struct Launch
    {
        QString program;
        QStringList args;
        QProcessEnvironment env;
    };
    struct Driver;
    static const Driver &driver(Kind kind);

    bool prepareMutter(Launch *launch, QString *whyNot);
    bool prepareSway(Launch *launch, QString *whyNot);
    bool prepareKWin(Launch *launch, QString *whyNot);
    bool answersOnBus(QString *detail) const;
    bool answersOnSwayIpc(QString *detail) const;
    bool setMutterScale(double scale, int layoutMode, QString *whyNot);
    bool setSwayScale(double scale, int layoutMode, QString *whyNot);

    bool startBus(QString *whyNot);
    bool startProcess(const Launch &launch, QString *whyNot);
    // Polls `ready` until it holds, the compositor ends or the start deadline passes; `ready`
    // may leave the reason it is not yet in its argument.
    template <typename Ready>
    bool waitUntil(const QString &what, Ready ready, QString *whyNot) const;
    bool findWaylandSocket();
    bool findXwayland();
    bool run(const QStringList &command, QByteArray *output, QString *whyNot) const;
    QProcessEnvironment sessionEnvironment() const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_bus;
    QProcess m_compositor;
    QByteArray m_busAddress;
    QString m_runtimeDir;
    QString m_waylandSocket;
    QString m_swaySocket;
    QString m_xDisplay;
    QString m_xAuthority;
};
