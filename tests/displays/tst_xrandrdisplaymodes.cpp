#include "DisplayModesProbe.h"
#include "DummyXServer.h"
#include "XRandRDisplayModes.h"
#include "XrandrReport.h"

#include <QStandardPaths>
#include <QTest>

#include "ModeSizes.h"

#include <cmath>

namespace {

Sizes deduplicated(const Sizes &sizes)
{
    Sizes unique;
    for (const QSize &size : sizes) {
        if (!unique.contains(size))
            unique.append(size);
    }
    return unique;
}

} // namespace

// One dummy Xorg server serves the whole class; the functions run in order and the later ones
// build on the outputs the earlier ones turned on.
class TestXRandRDisplayModes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void singleOutputMatchesXrandr();
    void twoOutputsMatchXrandr();
    void modesCarryTheirRefreshRate();
    void capacityAndUnknownIds();
    void forPlatformPicksXRandROnXcb();
    void connectedOutputWithoutCrtcIsLeftOut();
    void unreachableServerIsInvalid();

private:
    QList<Sizes> sourceView(const XRandRDisplayModes &source, quint32 capacity);
    QList<XrandrReport::Output> reference();
    void compareWithXrandr(int expectedOutputs);

    DummyXServer m_server;
};

void TestXRandRDisplayModes::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xrandr")).isEmpty())
        QSKIP("xrandr (package x11-xserver-utils) is needed as the reference");
    QString why;
    if (!m_server.start(&why))
        QSKIP(qPrintable(QStringLiteral("Xorg with the dummy driver cannot start here: ") + why));
}

void TestXRandRDisplayModes::cleanupTestCase()
{
    m_server.stop();
    QVERIFY(!m_server.isRunning());
}

QList<Sizes> TestXRandRDisplayModes::sourceView(const XRandRDisplayModes &source, quint32 capacity)
{
    std::vector<DisplayId> displays;
    if (!source.activeDisplayList(capacity, displays))
        return {};
    QList<Sizes> view;
    for (DisplayId id : displays) {
        const auto modes = source.availableModes(id);
        view.append(modes ? sizesOf(*modes) : Sizes{QSize(-1, -1)});
    }
    return view;
}

QList<XrandrReport::Output> TestXRandRDisplayModes::reference()
{
    QByteArray text;
    QString why;
    if (!m_server.runXrandr({QStringLiteral("--verbose")}, &text, &why))
        qWarning("%s", qPrintable(why));
    return XrandrReport::activeOutputs(text);
}

void TestXRandRDisplayModes::compareWithXrandr(int expectedOutputs)
{
    // The source asks first: `xrandr --verbose` makes the server probe its outputs, which would
    // hide a source that trusts stale connection states (the dummy driver updates them only on a
    // probe).
    const XRandRDisplayModes source(m_server.displayName());
    QVERIFY(source.isValid());
    // A real X server's modes are its own (the XWayland case runs under mutter).
    QVERIFY(!source.isXWayland());
    const QList<Sizes> view = sourceView(source, DisplayModeSource::MaxDisplays);

    const QList<XrandrReport::Output> outputs = reference();
    QCOMPARE(outputs.size(), expectedOutputs);
    QCOMPARE(view.size(), outputs.size());
    for (qsizetype i = 0; i < outputs.size(); ++i) {
        const QByteArray which = outputs.at(i).name.toLatin1();
        // What the resolution list will make of it: sizes in first-occurrence order...
        QVERIFY2(deduplicated(view.at(i)) == deduplicated(outputs.at(i).modes), which);
        // ...and, stricter, every mode in the server's own order.
        QVERIFY2(view.at(i) == outputs.at(i).modes, which);
    }
}

void TestXRandRDisplayModes::singleOutputMatchesXrandr()
{
    compareWithXrandr(1);
    const QList<XrandrReport::Output> outputs = reference();
    QCOMPARE(outputs.at(0).name, QStringLiteral("DUMMY0"));
    QVERIFY2(deduplicated(outputs.at(0).modes).size() >= 5, "DUMMY0 should offer many sizes");
}

void TestXRandRDisplayModes::twoOutputsMatchXrandr()
{
    QString why;
    QVERIFY2(m_server.enableSecondOutput(&why), qPrintable(why));
    compareWithXrandr(2);
    const QList<XrandrReport::Output> outputs = reference();
    QCOMPARE(outputs.at(1).name, QStringLiteral("DUMMY1"));
    QVERIFY(outputs.at(1).modes.contains(QSize(1024, 768)));
}

void TestXRandRDisplayModes::modesCarryTheirRefreshRate()
{
    // The configuration's 1920x1080 Modeline runs at 148.5 MHz over 2200 x 1125: 60 Hz.
    const XRandRDisplayModes source(m_server.displayName());
    std::vector<DisplayId> displays;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(!displays.empty());
    const auto modes = source.availableModes(displays.front());
    QVERIFY(modes);
    bool found = false;
    for (const ModeDescription &mode : *modes) {
        const double rate = mode.value(QStringLiteral("RefreshRate")).toDouble();
        QVERIFY2(rate > 0, "every mode has a refresh rate");
        if (mode.value(QStringLiteral("Width")) == 1920 &&
            mode.value(QStringLiteral("Height")) == 1080 && std::abs(rate - 60.0) < 0.01)
            found = true;
    }
    QVERIFY(found);
}

void TestXRandRDisplayModes::capacityAndUnknownIds()
{
    const XRandRDisplayModes source(m_server.displayName());
    std::vector<DisplayId> all;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, all));
    QCOMPARE(all.size(), size_t(2));
    std::vector<DisplayId> first{7, 8, 9};
    QVERIFY(source.activeDisplayList(1, first));
    QCOMPARE(first, std::vector<DisplayId>{all.front()});

    // Ids that are no output of this server have no mode list, and asking does not end the
    // process through Xlib's default error handler.
    QVERIFY(!source.availableModes(0));
    QVERIFY(!source.availableModes(0x1fffffff));
    QVERIFY(!source.availableModes(all.front() ^ 0x00100000));
    // The connection is still usable afterwards.
    QVERIFY(source.availableModes(all.back()));
}

void TestXRandRDisplayModes::forPlatformPicksXRandROnXcb()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_server.displayName()));
    QString why;
    const std::optional<DisplayModesProbe> probe = DisplayModesProbe::run(env, {}, &why);
    QVERIFY2(probe, qPrintable(why));

    QList<Sizes> expected;
    for (const XrandrReport::Output &output : reference())
        expected.append(output.modes);
    QCOMPARE(probe->backEnd, QStringLiteral("XRandR"));
    QCOMPARE(probe->displays, expected);
}

void TestXRandRDisplayModes::connectedOutputWithoutCrtcIsLeftOut()
{
    QString why;
    QVERIFY2(m_server.runXrandr(
                 {QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--off")},
                 nullptr, &why),
             qPrintable(why));
    // DUMMY1 stays connected, but nothing drives it any more.
    QByteArray text;
    QVERIFY(m_server.runXrandr({}, &text, &why));
    QVERIFY2(text.contains("\nDUMMY1 connected"), text.constData());
    compareWithXrandr(1);
}

void TestXRandRDisplayModes::unreachableServerIsInvalid()
{
    const XRandRDisplayModes source(":65534");
    QVERIFY(!source.isValid());
    std::vector<DisplayId> displays{1};
    QVERIFY(!source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());
    QVERIFY(!source.availableModes(1));
}

QTEST_GUILESS_MAIN(TestXRandRDisplayModes)
#include "tst_xrandrdisplaymodes.moc"
