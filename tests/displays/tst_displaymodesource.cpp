#include "DisplayModeSource.h"
#include "DrmDisplayModes.h"
#include "FakeDisplayModes.h"
#include "ListedDisplayModes.h"
#include "SwayDisplayModes.h"
#ifdef VELMORA_HAVE_QTDBUS
#include "MutterDisplayModes.h"
#include <QDBusConnection>
#include <QDBusMessage>
#endif

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "ModeSizes.h"

Q_DECLARE_METATYPE(std::optional<QList<Sizes>>)

// Runs under the offscreen platform configured with two screens: "Left", 1024 x 768 at scale 1,
// and "Right", 1280 x 800 device-independent pixels at scale 2. No compositor, bus or sway
// socket is reachable (the test's environment points them nowhere).
class TestDisplayModeSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listedSourceDropsSizelessModes();
    void swayReplies_data();
    void swayReplies();
    void swayWithoutSocketDoesNotAnswer();
    void mutterRejectsForeignReplies();
    void forPlatformInventsNothing();
    void fakeKeepsTheSourceContract();
};

void TestDisplayModeSource::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    if (QGuiApplication::screens().size() != 2)
        QFAIL("the offscreen platform did not take the two-screen configuration");
}

void TestDisplayModeSource::listedSourceDropsSizelessModes()
{
    ListedDisplayModes source;
    std::vector<DisplayId> displays{7};
    QVERIFY(!source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());

    source.addDisplay({ListedDisplayModes::mode(0, 0), ListedDisplayModes::mode(1920, 1080, 60.0),
                       ListedDisplayModes::mode(1280, 0), ListedDisplayModes::mode(-1, 720)});
    source.addDisplay({ListedDisplayModes::mode(0, 768)});
    for (int i = 0; i < 20; ++i)
        source.addDisplay({ListedDisplayModes::mode(640 + i, 480)});
    source.setAnswered(true);

    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QCOMPARE(displays.size(), size_t(DisplayModeSource::MaxDisplays));
    QCOMPARE(sizesOf(source.availableModes(displays.at(0))), Sizes{QSize(1920, 1080)});
    QCOMPARE(source.availableModes(displays.at(0))->value(0).value(QStringLiteral("RefreshRate")),
             QVariant(60.0));
    // A display without a usable mode is still a display, with an empty list.
    QVERIFY(source.availableModes(displays.at(1)));
    QVERIFY(source.availableModes(displays.at(1))->isEmpty());
    QVERIFY(!source.availableModes(0));
    QVERIFY(!source.availableModes(23));

    QVERIFY(NoDisplayModes().activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());
}

void TestDisplayModeSource::swayReplies_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<std::optional<QList<Sizes>>>("expected");

    const auto none = std::optional<QList<Sizes>>();
    QTest::newRow("not JSON") << QByteArray("i3-ipc\x01\x02\xff\xfe", 10) << none;
    QTest::newRow("truncated") << QByteArray(R"([{"active": true, "modes": [)") << none;
    QTest::newRow("an object, not a list") << QByteArray(R"({"success": false})") << none;
    QTest::newRow("no outputs") << QByteArray("[]") << std::optional(QList<Sizes>{});
    QTest::newRow("modes in sway's order, refresh ignored")
        << QByteArray(R"([{"name": "DP-1", "active": true,
                           "modes": [{"width": 2560, "height": 1440, "refresh": 59951},
                                     {"width": 1920, "height": 1080, "refresh": 60000},
                                     {"width": 2560, "height": 1440, "refresh": 143912}],
                           "current_mode": {"width": 1920, "height": 1080, "refresh": 60000}}])")
        << std::optional(QList<Sizes>{{QSize(2560, 1440), QSize(1920, 1080), QSize(2560, 1440)}});
    QTest::newRow("inactive outputs left out, current mode when no list")
        << QByteArray(R"([{"name": "HDMI-A-1", "active": false,
                           "modes": [{"width": 1024, "height": 768}]},
                          {"name": "HEADLESS-1", "active": true, "scale": 1.5, "modes": [],
                           "rect": {"width": 1280, "height": 720},
                           "current_mode": {"width": 1920, "height": 1080, "refresh": 60000}}])")
        << std::optional(QList<Sizes>{{QSize(1920, 1080)}});
    QTest::newRow("sizeless, negative, absurd and non-numeric sizes dropped")
        << QByteArray(R"([{"active": true,
                           "modes": [{"width": 0, "height": 0}, {"width": -1920, "height": 1080},
                                     {"width": 1e12, "height": 1080}, {"width": "1920"},
                                     {"width": 800, "height": 600}]},
                          {"active": true, "modes": [], "current_mode": null},
                          {"active": "yes", "modes": [{"width": 640, "height": 480}]}])")
        << std::optional(QList<Sizes>{{QSize(800, 600)}, {}});
}

void TestDisplayModeSource::swayReplies()
{
    QFETCH(QByteArray, json);
    QFETCH(std::optional<QList<Sizes>>, expected);
    const auto displays = SwayDisplayModes::parseOutputs(json);
    QCOMPARE(displays.has_value(), expected.has_value());
    if (!displays)
        return;
    // What the resolution list sees: the snapshot, with sizeless modes gone.
    ListedDisplayModes snapshot;
    for (const QList<ModeDescription> &modes : *displays)
        snapshot.addDisplay(modes);
    QList<Sizes> seen;
    for (DisplayId id = 1; id <= DisplayId(displays->size()); ++id)
        seen.append(sizesOf(snapshot.availableModes(id)));
    QCOMPARE(seen, *expected);
}

void TestDisplayModeSource::swayWithoutSocketDoesNotAnswer()
{
    const QDeadlineTimer deadline(DisplayModeSource::SourceTimeoutMs);
    QVERIFY(!SwayDisplayModes(deadline, QStringLiteral("/nonexistent/sway-ipc.sock")).answered());
    // A path longer than a socket address holds is refused, not truncated to another socket.
    QVERIFY(!SwayDisplayModes(deadline, QStringLiteral("/tmp/") + QString(200, u'x')).answered());
    QVERIFY(!SwayDisplayModes::request(QString(), 3, deadline));
}

void TestDisplayModeSource::mutterRejectsForeignReplies()
{
#ifdef VELMORA_HAVE_QTDBUS
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.DisplayConfig"),
        QStringLiteral("/org/gnome/Mutter/DisplayConfig"),
        QStringLiteral("org.gnome.Mutter.DisplayConfig"), QStringLiteral("GetCurrentState"));
    MutterDisplayModes source(QDBusConnection(QStringLiteral("not connected")),
                              QDeadlineTimer(DisplayModeSource::SourceTimeoutMs));
    QVERIFY(!source.answered());
    QVERIFY(!source.readState(call.createErrorReply(QStringLiteral("org.example.Failed"), {})));
    QVERIFY(!source.readState(call.createReply(QVariantList{1u, QStringLiteral("monitors")})));
    QVERIFY(!source.answered());
    std::vector<DisplayId> displays;
    QVERIFY(!source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
#else
    QSKIP("built without QtDBus");
#endif
}

void TestDisplayModeSource::forPlatformInventsNothing()
{
    if (!DrmDisplayModes::activeConnectors(QStringLiteral("/sys/class/drm")).isEmpty())
        QSKIP("this machine has DRM connectors, which answer first");
    // The screens are there, one of them scaled, yet no source can tell what the hardware
    // drives: the list stays empty rather than guessing from logical sizes.
    const std::unique_ptr<DisplayModeSource> source = DisplayModeSource::forPlatform();
    QVERIFY(dynamic_cast<NoDisplayModes *>(source.get()));
    std::vector<DisplayId> displays{1};
    QVERIFY(source->activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());
}

void TestDisplayModeSource::fakeKeepsTheSourceContract()
{
    // Other tests lean on the fake for the 16-display cut and the failure paths.
    FakeDisplayModes fake;
    for (int i = 0; i < 20; ++i)
        fake.addDisplay({{640 + i, 480}});
    const DisplayId bare = fake.addDisplayWithoutModes();
    std::vector<DisplayId> displays{1};
    QVERIFY(fake.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QCOMPARE(displays.size(), size_t(DisplayModeSource::MaxDisplays));
    QCOMPARE(sizesOf(fake.availableModes(displays.back())), QList<QSize>{QSize(655, 480)});
    QVERIFY(!fake.availableModes(bare));
    QVERIFY(!fake.availableModes(0));

    fake.setListFails(true);
    QVERIFY(!fake.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());
    QCOMPARE(fake.listCalls(), 2);
}

QTEST_MAIN(TestDisplayModeSource)
#include "tst_displaymodesource.moc"
