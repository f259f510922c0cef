// The resolution list's source under real headless compositors: what the probe (the launcher's
// own source choice, in a separate process with the session's environment) lists, against what
// the compositor itself reports, across sessions, scales and layouts.
#include "Compositor.h"
#include "DrmDisplayModes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cmath>

namespace {

using Sizes = QList<QSize>;
using Displays = QList<Sizes>;

enum class Change
{
    None,        // as started
    MutterScale, // first monitor at `scale`, in `layout` (1 logical, 2 physical)
    SwayScale,   // HEADLESS-1 at `scale`
    Paused,      // the compositor stopped (SIGSTOP) while the probe asks
};

struct Probe
{
    QString backEnd;
    Displays displays;
};

constexpr int ProbeTimeoutMs = 60000;
// What each source gets in the rows that compare lists.
constexpr int GenerousTimeoutMs = 10000;

const QSize FullHd(1920, 1080);
const QSize Sxga(1280, 1024);

Compositor::Options mutterWithTwoMonitors()
{
    return {Compositor::Kind::Mutter, {FullHd, Sxga}, 1.0, true};
}

// "1: 1920x1080 1280x720" lines after the back end's name.
std::optional<Probe> parseProbe(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    if (lines.isEmpty() || lines.first().isEmpty())
        return std::nullopt;
    Probe probe{QString::fromLatin1(lines.first()), {}};
    static const QRegularExpression size(QStringLiteral("(\\d+)x(\\d+)"));
    for (const QByteArray &line : lines.mid(1)) {
        Sizes sizes;
        for (auto it = size.globalMatch(QString::fromLatin1(line.mid(line.indexOf(':'))));
             it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            sizes.append(QSize(m.captured(1).toInt(), m.captured(2).toInt()));
        }
        probe.displays.append(sizes);
    }
    return probe;
}

QString describe(const Displays &displays)
{
    QStringList parts;
    for (const Sizes &sizes : displays) {
        QStringList modes;
        for (const QSize &s : sizes)
            modes << QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
        parts << modes.join(QLatin1Char(' '));
    }
    return parts.isEmpty() ? QStringLiteral("(none)") : parts.join(QStringLiteral(" | "));
}

// Active monitors of a GetCurrentState reply as gdbus prints it: the monitors that a logical
// monitor shows, each with every mode's size.
Displays mutterReport(const QByteArray &state)
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
        Sizes sizes;
        for (auto modes = mode.globalMatch(m.captured(2)); modes.hasNext();) {
            const QRegularExpressionMatch mm = modes.next();
            sizes.append(QSize(mm.captured(1).toInt(), mm.captured(2).toInt()));
        }
        displays.append(sizes);
    }
    return displays;
}

// Active outputs of a GET_OUTPUTS reply: their modes, or the current mode when none is listed.
Displays swayReport(const QByteArray &json)
{
    Displays displays;
    for (const QJsonValue &value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject output = value.toObject();
        if (!output.value(QLatin1String("active")).toBool())
            continue;
        QJsonArray modes = output.value(QLatin1String("modes")).toArray();
        if (modes.isEmpty())
            modes.append(output.value(QLatin1String("current_mode")));
        Sizes sizes;
        for (const QJsonValue &mode : modes)
            sizes.append(
                QSize(mode[QLatin1String("width")].toInt(), mode[QLatin1String("height")].toInt()));
        displays.append(sizes);
    }
    return displays;
}

// Enabled screens of KWin's support information. A virtual output's mode is its logical size at
// its scale, so that product is what KWin drives.
Displays kwinReport(const QByteArray &text)
{
    static const QRegularExpression screen(QStringLiteral(
        "Enabled: (\\d)\\nGeometry: -?\\d+,-?\\d+,(\\d+)x(\\d+)\\nScale: ([0-9.]+)"));
    Displays displays;
    for (auto it = screen.globalMatch(QString::fromUtf8(text)); it.hasNext();) {
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

Q_DECLARE_METATYPE(Compositor::Options)
Q_DECLARE_METATYPE(Change)

class TestCompositorDisplayModes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase();
    void listEqualsCompositorReport_data();
    void listEqualsCompositorReport();

private:
    // The running compositor is kept from row to row while the rows start it the same way; a
    // compositor that could not start is not tried again for the following rows.
    bool ensureCompositor(const Compositor::Options &options, QString *whyNot);
    std::optional<Probe> runProbe(const QString &platform, const QStringList &hidden, int timeoutMs,
                                  QString *whyNot);
    Displays compositorReport(QString *whyNot);

    Compositor m_compositor;
    std::optional<Compositor::Options> m_failedOptions;
    QString m_failure;
};

void TestCompositorDisplayModes::cleanupTestCase()
{
    m_compositor.stop();
    QVERIFY(!m_compositor.isRunning());
}

void TestCompositorDisplayModes::listEqualsCompositorReport_data()
{
    QTest::addColumn<Compositor::Options>("session");
    QTest::addColumn<Change>("change");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("platform");
    // Variables the client does not get, so that a later source in the chain answers.
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QString>("backEnd");
    QTest::addColumn<Displays>("expected");

    const QString wayland = QStringLiteral("wayland");
    const Displays twoSizes{{FullHd}, {Sxga}};
    // Rows that share a session follow each other, so that each compositor starts once.
    const Compositor::Options mutter = mutterWithTwoMonitors();
    QTest::newRow("mutter, logical layout, scale 1")
        << mutter << Change::MutterScale << 1.0 << 1 << wayland << QStringList{} << "mutter"
        << twoSizes;
    QTest::newRow("mutter, logical layout, scale 1.25")
        << mutter << Change::MutterScale << 1.25 << 1 << wayland << QStringList{} << "mutter"
        << twoSizes;
    QTest::newRow("mutter, logical layout, scale 1.5")
        << mutter << Change::MutterScale << 1.5 << 1 << wayland << QStringList{} << "mutter"
        << twoSizes;
    QTest::newRow("mutter, logical layout, scale 2")
        << mutter << Change::MutterScale << 2.0 << 1 << wayland << QStringList{} << "mutter"
        << twoSizes;
    QTest::newRow("mutter, physical layout, scale 2")
        << mutter << Change::MutterScale << 2.0 << 2 << wayland << QStringList{} << "mutter"
        << twoSizes;
    // Xwayland offers some twenty emulated sizes per output; the compositor's are asked.
    QTest::newRow("mutter, XWayland client, scale 1.5")
        << mutter << Change::MutterScale << 1.5 << 1 << QStringLiteral("xcb") << QStringList{}
        << "mutter" << twoSizes;
    // Without the bus, the core protocol's current modes: hardware pixels too.
    QTest::newRow("mutter, wl_output only, physical layout, scale 2")
        << mutter << Change::MutterScale << 2.0 << 2 << wayland
        << QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS")} << "wl_output" << twoSizes;
    QTest::newRow("mutter, hanging")
        << mutter << Change::Paused << 1.0 << 1 << QStringLiteral("offscreen") << QStringList{}
        << "none" << Displays{};
    QTest::newRow("mutter, no monitors")
        << Compositor::Options{Compositor::Kind::Mutter, {}, 1.0, false} << Change::None << 1.0 << 1
        << wayland << QStringList{} << "mutter" << Displays{};

    const Compositor::Options sway{Compositor::Kind::Sway, {FullHd, Sxga}, 1.0, false};
    for (double scale : {1.0, 1.25, 1.5, 2.0})
        QTest::addRow("sway, scale %g", scale) << sway << Change::SwayScale << scale << 0 << wayland
                                               << QStringList{} << "sway" << twoSizes;
    QTest::newRow("sway, wl_output only, scale 1.5")
        << sway << Change::SwayScale << 1.5 << 0 << wayland
        << QStringList{QStringLiteral("SWAYSOCK")} << "wl_output" << twoSizes;
    QTest::newRow("sway, hanging")
        << sway << Change::Paused << 1.0 << 0 << QStringLiteral("offscreen") << QStringList{}
        << "none" << Displays{};
    // sway 1.7's headless outputs cannot be switched off (the commit fails): a start without.
    QTest::newRow("sway, no outputs")
        << Compositor::Options{Compositor::Kind::Sway, {}, 1.0, false} << Change::None << 1.0 << 0
        << wayland << QStringList{} << "sway" << Displays{};

    // KWin's virtual outputs take a logical size and one scale for all at start.
    QTest::newRow("KWin, scale 1")
        << Compositor::Options{Compositor::Kind::KWin, {FullHd, FullHd}, 1.0, false} << Change::None
        << 1.0 << 0 << wayland << QStringList{} << "KWin" << Displays{{FullHd}, {FullHd}};
    QTest::newRow("KWin, scale 1.5") << Compositor::Options{Compositor::Kind::KWin,
                                                            {QSize(1280, 720), QSize(1280, 720)},
                                                            1.5,
                                                            false}
                                     << Change::None << 1.5 << 0 << wayland << QStringList{}
                                     << "KWin" << Displays{{FullHd}, {FullHd}};
}

bool TestCompositorDisplayModes::ensureCompositor(const Compositor::Options &options,
                                                  QString *whyNot)
{
    if (m_failedOptions && *m_failedOptions == options) {
        *whyNot = m_failure;
        return false;
    }
    if (m_compositor.isRunning() && m_compositor.options() == options)
        return true;
    if (m_compositor.start(options, whyNot)) {
        m_failedOptions.reset();
        return true;
    }
    m_failedOptions = options;
    m_failure = *whyNot;
    return false;
}

std::optional<Probe> TestCompositorDisplayModes::runProbe(const QString &platform,
                                                          const QStringList &hidden, int timeoutMs,
                                                          QString *whyNot)
{
    QProcess probe;
    QProcessEnvironment env = m_compositor.clientEnvironment(platform);
    for (const QString &name : hidden)
        env.remove(name);
    // Full stacks under LeakSanitizer: leaks inside system libraries without frame pointers are
    // then told apart by who called them (Qt's Wayland plugin leaks at exit, our sources must not).
    if (env.contains(QStringLiteral("LSAN_OPTIONS")))
        env.insert(QStringLiteral("LSAN_OPTIONS"), env.value(QStringLiteral("LSAN_OPTIONS")) +
                                                       QStringLiteral(":fast_unwind_on_malloc=0"));
    probe.setProcessEnvironment(env);
    // A compositor that is merely slow on this busy machine must not pass for one that hangs:
    // the rows that compare lists give every source ample time; the hanging rows keep the
    // launcher's own limit.
    const QStringList arguments =
        timeoutMs > 0 ? QStringList{QStringLiteral("--source-timeout-ms=%1").arg(timeoutMs)}
                      : QStringList{};
    probe.start(qEnvironmentVariable("VELMORA_DISPLAYMODES_PROBE"), arguments);
    if (!probe.waitForFinished(ProbeTimeoutMs)) {
        probe.kill();
        probe.waitForFinished();
        *whyNot = QStringLiteral("the probe did not finish");
        return std::nullopt;
    }
    const QByteArray errors = probe.readAllStandardError();
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        *whyNot = QStringLiteral("the probe failed: ") + QString::fromLocal8Bit(errors);
        return std::nullopt;
    }
    return parseProbe(probe.readAllStandardOutput());
}

Displays TestCompositorDisplayModes::compositorReport(QString *whyNot)
{
    QByteArray text;
    switch (m_compositor.options().kind) {
    case Compositor::Kind::Mutter:
        if (m_compositor.mutterState(&text, whyNot))
            return mutterReport(text);
        break;
    case Compositor::Kind::Sway:
        if (m_compositor.swayOutputs(&text, whyNot))
            return swayReport(text);
        break;
    case Compositor::Kind::KWin:
        if (m_compositor.kwinSupportInformation(&text, whyNot))
            return kwinReport(text);
        break;
    }
    return {};
}

void TestCompositorDisplayModes::listEqualsCompositorReport()
{
    QFETCH(Compositor::Options, session);
    QFETCH(Change, change);
    QFETCH(double, scale);
    QFETCH(int, layout);
    QFETCH(QString, platform);
    QFETCH(QStringList, hidden);
    QFETCH(QString, backEnd);
    QFETCH(Displays, expected);

#ifndef VELMORA_HAVE_QTDBUS
    if (backEnd == QLatin1String("mutter"))
        QSKIP("built without QtDBus: mutter is not asked");
#endif
#ifndef VELMORA_HAVE_WAYLAND
    if (backEnd == QLatin1String("KWin") || backEnd == QLatin1String("wl_output"))
        QSKIP("built without the Wayland client library");
#endif
    QString why;
    if (!ensureCompositor(session, &why))
        QSKIP(qPrintable(Compositor::name(session.kind) + QStringLiteral(" cannot start here: ") +
                         why));

    switch (change) {
    case Change::None:
    case Change::Paused:
        break;
    case Change::MutterScale:
        QVERIFY2(m_compositor.setMutterScale(scale, layout, &why), qPrintable(why));
        break;
    case Change::SwayScale:
        QVERIFY2(m_compositor.swayOutput(QStringLiteral("HEADLESS-1"),
                                         {QStringLiteral("scale"), QString::number(scale)}, &why),
                 qPrintable(why));
        break;
    }

    if (change == Change::Paused) {
        if (!DrmDisplayModes::activeConnectors(QStringLiteral("/sys/class/drm")).isEmpty())
            QSKIP("this machine has DRM connectors, which answer when the compositor does not");
        m_compositor.pause();
        const std::optional<Probe> probe = runProbe(platform, hidden, 0, &why);
        m_compositor.resume();
        QVERIFY2(probe, qPrintable(why));
        // Every compositor source gave up at its deadline: nothing invented, nothing stalled.
        QCOMPARE(probe->backEnd, backEnd);
        QCOMPARE(probe->displays, expected);
        return;
    }

    const Displays reported = compositorReport(&why);
    QCOMPARE(reported, expected);
    const std::optional<Probe> probe = runProbe(platform, hidden, GenerousTimeoutMs, &why);
    QVERIFY2(probe, qPrintable(why));
    qInfo("%s reports %s; the launcher lists %s (from %s)",
          qPrintable(Compositor::name(session.kind)), qPrintable(describe(reported)),
          qPrintable(describe(probe->displays)), qPrintable(probe->backEnd));
    QCOMPARE(probe->backEnd, backEnd);
    QCOMPARE(probe->displays, expected);

    if (platform == QLatin1String("xcb")) {
        // The case is only worth its name while Xwayland itself offers more than the monitors do.
        QByteArray xrandr;
        QVERIFY2(m_compositor.run(QStringLiteral("xrandr"), {}, &xrandr, &why), qPrintable(why));
        QVERIFY2(xrandr.count("\n   ") > 2, "Xwayland no longer emulates modes: " + xrandr);
        QVERIFY(xrandr.contains("XWAYLAND"));
    }
}

QTEST_GUILESS_MAIN(TestCompositorDisplayModes)
#include "tst_compositordisplaymodes.moc"
