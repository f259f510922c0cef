#include "DisplayModeSource.h"
#include "DrmDisplayModes.h"
#include "FakeDisplayModes.h"
#include "ScreenDisplayModes.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "ModeSizes.h"

// Runs under the offscreen platform configured with two screens: "Left", 1024 x 768 at scale 1,
// and "Right", 1280 x 800 device-independent pixels at scale 2.
class TestDisplayModeSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void screensOfferTheirDevicePixels();
    void screenCapacityAndUnknownIds();
    void forPlatformGivesWorkingSource();
    void fakeKeepsTheSourceContract();
};

namespace {} // namespace

void TestDisplayModeSource::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    if (QGuiApplication::screens().size() != 2)
        QFAIL("the offscreen platform did not take the two-screen configuration");
}

void TestDisplayModeSource::screensOfferTheirDevicePixels()
{
    const ScreenDisplayModes source;
    std::vector<DisplayId> displays;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QCOMPARE(displays.size(), size_t(2));
    QCOMPARE(sizesOf(source.availableModes(displays.at(0))), QList<QSize>{QSize(1024, 768)});
    // The scaled screen drives twice its logical size in pixels.
    QCOMPARE(sizesOf(source.availableModes(displays.at(1))), QList<QSize>{QSize(2560, 1600)});
    const ModeDescription mode = source.availableModes(displays.at(1))->value(0);
    QCOMPARE(mode.value(QStringLiteral("Width")).typeId(), QMetaType::Int);
    QCOMPARE(mode.value(QStringLiteral("Height")).typeId(), QMetaType::Int);
}

void TestDisplayModeSource::screenCapacityAndUnknownIds()
{
    const ScreenDisplayModes source;
    std::vector<DisplayId> all;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, all));
    std::vector<DisplayId> first{99, 98};
    QVERIFY(source.activeDisplayList(1, first));
    QCOMPARE(first, std::vector<DisplayId>{all.front()});
    // Asking again hands out the same ids.
    std::vector<DisplayId> again;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, again));
    QCOMPARE(again, all);
    QVERIFY(!source.availableModes(0));
    QVERIFY(!source.availableModes(all.back() + 1));
}

void TestDisplayModeSource::forPlatformGivesWorkingSource()
{
    const std::unique_ptr<DisplayModeSource> source = DisplayModeSource::forPlatform();
    QVERIFY(source);
    std::vector<DisplayId> displays;
    QVERIFY(source->activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(!displays.empty());
    for (DisplayId id : displays) {
        const QList<QSize> sizes = sizesOf(source->availableModes(id));
        QVERIFY(!sizes.isEmpty());
        for (const QSize &size : sizes)
            QVERIFY2(size.width() > 0 && size.height() > 0, "a mode without a size");
    }
    // Without an active DRM connector on this machine, the screens themselves must answer.
    if (DrmDisplayModes::activeConnectors(QStringLiteral("/sys/class/drm")).isEmpty()) {
        QVERIFY(dynamic_cast<ScreenDisplayModes *>(source.get()));
        QCOMPARE(sizesOf(source->availableModes(displays.at(1))), QList<QSize>{QSize(2560, 1600)});
    } else {
        QVERIFY(dynamic_cast<DrmDisplayModes *>(source.get()));
    }
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
