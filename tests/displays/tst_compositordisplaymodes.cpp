// The resolution list's source under real headless compositors: what the probe (the launcher's
// own source choice, in a separate process with the session's environment) lists, against what
// the compositor itself reports, across sessions, scales and layouts.
#include "Compositor.h"
#include "DisplayModesProbe.h"
#include "DrmDisplayModes.h"

#include <QTest>

namespace {

using Displays = Compositor::Displays;

enum class Change
{
    None,   // as started
    Scale,  // the first output at `scale`, in `layout` (mutter: 1 logical, 2 physical)
    Paused, // the compositor stopped (SIGSTOP) while the probe asks
};

// What each source gets in the rows that compare lists: a compositor that is merely slow on
// this busy machine must not pass for one that hangs. The hanging rows keep the launcher's own
// limit.
constexpr int GenerousTimeoutMs = 10000;

const QSize FullHd(1920, 1080);
const QSize Sxga(1280, 1024);

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
    std::optional<DisplayModesProbe> runProbe(const QString &platform, const QStringList &hidden,
                                              int timeoutMs, QString *whyNot);

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
    // Variables the client does not get (or gets as NAME=value), so that a later source in the
    // chain answers.
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QString>("backEnd");
    QTest::addColumn<Displays>("expected");

    using Kind = Compositor::Kind;
    const QString wayland = QStringLiteral("wayland");
    const QString offscreen = QStringLiteral("offscreen");
    const Displays twoSizes{{FullHd}, {Sxga}};
    // Rows that share a session follow each other, so that each compositor starts once.
    const Compositor::Options mutter{Kind::Mutter, {FullHd, Sxga}, 1.0, true};
    for (double scale : {1.0, 1.25, 1.5, 2.0})
        QTest::addRow("mutter, logical layout, scale %g", scale)
            << mutter << Change::Scale << scale << 1 << wayland << QStringList{} << "mutter"
            << twoSizes;
    QTest::newRow("mutter, physical layout, scale 2")
        << mutter << Change::Scale << 2.0 << 2 << wayland << QStringList{} << "mutter" << twoSizes;
    // Xwayland offers some twenty emulated sizes per output; the compositor's are asked.
    QTest::newRow("mutter, XWayland client, scale 1.5")
        << mutter << Change::Scale << 1.5 << 1 << QStringLiteral("xcb") << QStringList{} << "mutter"
        << twoSizes;
    // Only DISPLAY reaches the session: Xwayland's current modes, without its emulated ones.
    QTest::newRow("mutter, XWayland client with only DISPLAY")
        << mutter << Change::Scale << 1.0 << 1 << QStringLiteral("xcb")
        << QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"),
                       QStringLiteral("WAYLAND_DISPLAY")}
        << "XWayland" << twoSizes;
    // Without the bus, the core protocol's current modes: hardware pixels too.
    QTest::newRow("mutter, wl_output only, physical layout, scale 2")
        << mutter << Change::Scale << 2.0 << 2 << wayland
        << QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS")} << "wl_output" << twoSizes;
    QTest::newRow("mutter, hanging") << mutter << Change::Paused << 1.0 << 1 << offscreen
                                     << QStringList{} << "none" << Displays{};
    QTest::newRow("mutter, no monitors")
        << Compositor::Options{Kind::Mutter, {}, 1.0, false} << Change::None << 1.0 << 1 << wayland
        << QStringList{} << "mutter" << Displays{};

    const Compositor::Options sway{Kind::Sway, {FullHd, Sxga}, 1.0, false};
    for (double scale : {1.0, 1.25, 1.5, 2.0})
        QTest::addRow("sway, scale %g", scale) << sway << Change::Scale << scale << 0 << wayland
                                               << QStringList{} << "sway" << twoSizes;
    QTest::newRow("sway, wl_output only, scale 1.5")
        << sway << Change::Scale << 1.5 << 0 << wayland << QStringList{QStringLiteral("SWAYSOCK")}
        << "wl_output" << twoSizes;
    QTest::newRow("sway, hanging")
        << sway << Change::Paused << 1.0 << 0 << offscreen << QStringList{} << "none" << Displays{};
    // sway 1.7's headless outputs cannot be switched off (the commit fails): a start without.
    QTest::newRow("sway, no outputs")
        << Compositor::Options{Kind::Sway, {}, 1.0, false} << Change::None << 1.0 << 0 << wayland
        << QStringList{} << "sway" << Displays{};

    // KWin's virtual outputs take a logical size and one scale for all at start.
    QTest::newRow("KWin, scale 1")
        << Compositor::Options{Kind::KWin, {FullHd, FullHd}, 1.0, false} << Change::None << 1.0 << 0
        << wayland << QStringList{} << "KWin" << Displays{{FullHd}, {FullHd}};
    QTest::newRow("KWin, scale 1.5")
        << Compositor::Options{Kind::KWin, {QSize(1280, 720), QSize(1280, 720)}, 1.5, false}
        << Change::None << 1.5 << 0 << wayland << QStringList{} << "KWin"
        << Displays{{FullHd}, {FullHd}};
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

std::optional<DisplayModesProbe> TestCompositorDisplayModes::runProbe(const QString &platform,
                                                                      const QStringList &hidden,
                                                                      int timeoutMs,
                                                                      QString *whyNot)
{
    QProcessEnvironment env = m_compositor.clientEnvironment(platform);
    for (const QString &name : hidden) {
        const qsizetype equals = name.indexOf(u'=');
        if (equals < 0)
            env.remove(name);
        else
            env.insert(name.left(equals), name.mid(equals + 1));
    }
    const QStringList arguments =
        timeoutMs > 0 ? QStringList{QStringLiteral("--source-timeout-ms=%1").arg(timeoutMs)}
                      : QStringList{};
    return DisplayModesProbe::run(env, arguments, whyNot);
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

    const bool drm = !DrmDisplayModes::activeConnectors(QStringLiteral("/sys/class/drm")).isEmpty();
    if (drm && (change == Change::Paused || backEnd == QLatin1String("XWayland")))
        QSKIP("this machine has DRM connectors, which answer when the compositor does not");
    if (change == Change::Scale)
        QVERIFY2(m_compositor.setScale(scale, layout, &why), qPrintable(why));

    if (change == Change::Paused) {
        m_compositor.pause();
        const std::optional<DisplayModesProbe> probe = runProbe(platform, hidden, 0, &why);
        m_compositor.resume();
        QVERIFY2(probe, qPrintable(why));
        // Every compositor source gave up at its deadline: nothing invented, nothing stalled.
        QCOMPARE(probe->backEnd, backEnd);
        QCOMPARE(probe->displays, expected);
        return;
    }

    Displays reported;
    QVERIFY2(m_compositor.reportedDisplays(&reported, &why), qPrintable(why));
    QCOMPARE(reported, expected);
    const std::optional<DisplayModesProbe> probe =
        runProbe(platform, hidden, GenerousTimeoutMs, &why);
    QVERIFY2(probe, qPrintable(why));
    qInfo("%s reports %s; the launcher lists %s (from %s)",
          qPrintable(Compositor::name(session.kind)),
          qPrintable(DisplayModesProbe::describe(reported)),
          qPrintable(DisplayModesProbe::describe(probe->displays)), qPrintable(probe->backEnd));
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
