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
// collide:
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

    // mutter: GetCurrentState as gdbus prints it.
    bool mutterState(QByteArray *text, QString *whyNot) const;
    // mutter: puts the first monitor at `scale` (the supported scale nearest to it) and the
    // others at 1, in the logical (1) or physical (2) layout mode.
    bool setMutterScale(double scale, int layoutMode, QString *whyNot);

    // sway: the GET_OUTPUTS reply as swaymsg prints it (JSON).
    bool swayOutputs(QByteArray *json, QString *whyNot) const;
    // sway: `swaymsg output <name> <args...>`.
    bool swayOutput(const QString &output, const QStringList &args, QString *whyNot) const;

    // KWin: its support information (org.kde.KWin.supportInformation), which describes each
    // screen by its logical geometry and scale.
    bool kwinSupportInformation(QByteArray *text, QString *whyNot) const;

    // Stops (SIGSTOP) or resumes (SIGCONT) the compositor, as a compositor that hangs.
    void pause();
    void resume();

    // X display of mutter's Xwayland (":N"), empty without one.
    QString xDisplay() const { return m_xDisplay; }

private:
    bool startBus(QString *whyNot);
    bool startMutter(QString *whyNot);
    bool startSway(QString *whyNot);
    bool startKWin(QString *whyNot);
    bool startProcess(const QString &program, const QStringList &args,
                      const QProcessEnvironment &env, QString *whyNot);
    bool waitForBusName(const QString &name, QString *whyNot) const;
    bool waitForWaylandSocket(QString *whyNot);
    bool waitForXwayland(QString *whyNot);
    QString logTail() const;
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
    int m_mutterSerial = 0;
};
