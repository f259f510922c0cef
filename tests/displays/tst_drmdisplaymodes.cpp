#include "DrmDisplayModes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "ModeSizes.h"

namespace {

QString fixtureRoot()
{
    return qEnvironmentVariable("VELMORA_DISPLAYS_FIXTURES") + QStringLiteral("/sysfs-drm");
}

bool copyTree(const QString &from, const QString &to)
{
    const QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target)
                          : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

} // namespace

class TestDrmDisplayModes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseModes_data();
    void parseModes();
    void interlacedFlag();
    void connectorOrder_data();
    void connectorOrder();
    void activeConnectorsFromFixtures();
    void modesFromFixtures();
    void capacityLimitsTheList();
    void idsSurviveChangesOnDisk();
    void missingRootFails();
};

void TestDrmDisplayModes::parseModes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Sizes>("expected");

    QTest::newRow("kernel order kept, repeats kept")
        << QByteArray("1920x1080\n1280x1024\n640x480\n1280x1024\n")
        << Sizes{{1920, 1080}, {1280, 1024}, {640, 480}, {1280, 1024}};
    QTest::newRow("no final newline") << QByteArray("800x600") << Sizes{{800, 600}};
    QTest::newRow("empty file") << QByteArray() << Sizes{};
    QTest::newRow("interlaced suffix")
        << QByteArray("1920x1080i\n720x576i\n") << Sizes{{1920, 1080}, {720, 576}};
    QTest::newRow("blank lines and surrounding space")
        << QByteArray("\n  1024x768  \n\t\n800x600\r\n") << Sizes{{1024, 768}, {800, 600}};
    QTest::newRow("odd lines skipped")
        << QByteArray("garbage\nx768\n1024x\n1024 x 768\n1280x1024 60\n-640x480\n1152x864\n")
        << Sizes{{1152, 864}};
    QTest::newRow("zero sizes skipped")
        << QByteArray("0x600\n800x0\n0x0\n640x480\n") << Sizes{{640, 480}};
    QTest::newRow("numbers beyond int skipped")
        << QByteArray("99999999999x1\n2147483648x1\n2147483647x1\n") << Sizes{{2147483647, 1}};
    QTest::newRow("leading zeros are still decimal")
        << QByteArray("0800x0600\n") << Sizes{{800, 600}};
}

void TestDrmDisplayModes::parseModes()
{
    QFETCH(QByteArray, text);
    QFETCH(Sizes, expected);
    QCOMPARE(sizesOf(DrmDisplayModes::parseModes(text)), expected);
}

void TestDrmDisplayModes::interlacedFlag()
{
    const QList<ModeDescription> modes =
        DrmDisplayModes::parseModes("1920x1080i\n1920x1080\n1280x720foo\n");
    QCOMPARE(modes.size(), 3);
    QCOMPARE(modes.at(0).value(QStringLiteral("Interlaced")), QVariant(true));
    QVERIFY(!modes.at(1).contains(QStringLiteral("Interlaced")));
    QVERIFY(!modes.at(2).contains(QStringLiteral("Interlaced")));
    // Width and height are ints, as the resolution list reads them.
    QCOMPARE(modes.at(0).value(QStringLiteral("Width")).typeId(), QMetaType::Int);
    QCOMPARE(modes.at(0).value(QStringLiteral("Height")).typeId(), QMetaType::Int);
}

void TestDrmDisplayModes::connectorOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("aFirst");
    QTest::addColumn<bool>("bFirst");

    QTest::newRow("numbers by value") << "card0-DP-2"
                                      << "card0-DP-10" << true << false;
    QTest::newRow("card numbers by value") << "card2-HDMI-A-1"
                                           << "card10-DP-1" << true << false;
    QTest::newRow("same card, names by character") << "card0-DP-1"
                                                   << "card0-HDMI-A-1" << true << false;
    QTest::newRow("upper case before lower case") << "card0-DP-1"
                                                  << "card0-eDP-1" << true << false;
    QTest::newRow("prefix first") << "card0-DP"
                                  << "card0-DP-1" << true << false;
    QTest::newRow("equal names") << "card0-DP-1"
                                 << "card0-DP-1" << false << false;
    QTest::newRow("equal value, leading zero breaks the tie") << "card0-DP-01"
                                                              << "card0-DP-1" << true << false;
    QTest::newRow("digit runs longer than any integer")
        << "card0-DP-99999999999999999999999"
        << "card0-DP-100000000000000000000000" << true << false;
    QTest::newRow("zero-padded long run") << "card0-DP-0000000000000000000000002"
                                          << "card0-DP-10" << true << false;
}

void TestDrmDisplayModes::connectorOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, aFirst);
    QFETCH(bool, bFirst);
    QCOMPARE(DrmDisplayModes::connectorLess(a, b), aFirst);
    QCOMPARE(DrmDisplayModes::connectorLess(b, a), bFirst);
}

void TestDrmDisplayModes::activeConnectorsFromFixtures()
{
    // Disconnected, disabled, without an `enabled` file, and entries that are not connectors
    // (the card itself, render nodes, plain files) are all left out.
    const QStringList expected{QStringLiteral("card0-DP-2"), QStringLiteral("card0-DP-3"),
                               QStringLiteral("card0-DP-10"), QStringLiteral("card0-eDP-1"),
                               QStringLiteral("card1-VGA-1")};
    QCOMPARE(DrmDisplayModes::activeConnectors(fixtureRoot()), expected);
}

void TestDrmDisplayModes::modesFromFixtures()
{
    const DrmDisplayModes source(fixtureRoot());
    std::vector<DisplayId> displays;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QCOMPARE(displays.size(), size_t(5));

    QList<std::optional<Sizes>> actual;
    for (DisplayId id : displays) {
        const auto modes = source.availableModes(id);
        actual.append(modes ? std::optional<Sizes>(sizesOf(*modes)) : std::nullopt);
    }
    const QList<std::optional<Sizes>> expected{
        Sizes{{3840, 2160}},
        Sizes{},
        Sizes{{2560, 1440}, {1920, 1080}, {800, 600}, {720, 576}},
        Sizes{{1920, 1080}, {1280, 720}, {1920, 1080}, {1366, 768}},
        std::nullopt, // no `modes` file at all
    };
    QCOMPARE(actual, expected);

    QVERIFY(!source.availableModes(0));
    QVERIFY(!source.availableModes(displays.back() + 1));
}

void TestDrmDisplayModes::capacityLimitsTheList()
{
    const DrmDisplayModes source(fixtureRoot());
    std::vector<DisplayId> all;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, all));
    std::vector<DisplayId> firstTwo{42, 43, 44};
    QVERIFY(source.activeDisplayList(2, firstTwo));
    QCOMPARE(firstTwo, std::vector<DisplayId>(all.begin(), all.begin() + 2));
    std::vector<DisplayId> none{42};
    QVERIFY(source.activeDisplayList(0, none));
    QVERIFY(none.empty());
}

void TestDrmDisplayModes::idsSurviveChangesOnDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.filePath(QStringLiteral("drm"));
    QVERIFY(copyTree(fixtureRoot(), root));

    const DrmDisplayModes source(root);
    std::vector<DisplayId> before;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, before));
    QCOMPARE(before.size(), size_t(5));
    const DisplayId edp = before.at(3);

    // A connector that sorts before it comes up; the ids handed out earlier keep naming their
    // connectors and the newcomer gets an id of its own.
    QVERIFY(QFile::remove(root + QStringLiteral("/card0-HDMI-A-2/enabled")));
    QFile enabled(root + QStringLiteral("/card0-HDMI-A-2/enabled"));
    QVERIFY(enabled.open(QIODevice::WriteOnly));
    enabled.write("enabled\n");
    enabled.close();

    std::vector<DisplayId> after;
    QVERIFY(source.activeDisplayList(DisplayModeSource::MaxDisplays, after));
    QCOMPARE(after.size(), size_t(6));
    QCOMPARE(after.at(4), edp);
    const auto modes = source.availableModes(edp);
    QVERIFY(modes);
    QCOMPARE(sizesOf(*modes).value(0), QSize(1920, 1080));
    QVERIFY(std::find(before.begin(), before.end(), after.at(3)) == before.end());
    const auto hdmi = source.availableModes(after.at(3));
    QVERIFY(hdmi);
    QCOMPARE(sizesOf(*hdmi), Sizes{QSize(1024, 768)});
}

void TestDrmDisplayModes::missingRootFails()
{
    const DrmDisplayModes source(QStringLiteral("/nonexistent/velmora/drm"));
    std::vector<DisplayId> displays{1, 2};
    QVERIFY(!source.activeDisplayList(DisplayModeSource::MaxDisplays, displays));
    QVERIFY(displays.empty());
}

QTEST_GUILESS_MAIN(TestDrmDisplayModes)
#include "tst_drmdisplaymodes.moc"
