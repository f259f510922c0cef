// The German interface, and the texts that must never be translated.
#include "LauncherFixture.h"

#include "NewRowsButton.h"
#include "ToolbarItem.h"
#include "Translations.h"
#include "ui_Launcher.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QXmlStreamReader>

using namespace LauncherFixture;

class TranslationsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void germanCatalogueIsComplete();
    void germanLocaleShowsGermanInterface();
};

void TranslationsTest::germanCatalogueIsComplete()
{
    QFile ts(QString::fromLocal8Bit(qgetenv("VELMORA_TEST_SOURCE_DIR")) +
             QStringLiteral("/../../resources/i18n/velmora_de.ts"));
    QVERIFY2(ts.open(QIODevice::ReadOnly), qPrintable(ts.fileName()));
    QXmlStreamReader xml(&ts);
    QString source;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"source") {
            source = xml.readElementText();
            ++messages;
            // What the game, the server and the preferences depend on stays as it is.
            QVERIFY2(!source.contains(QStringLiteral("can't launch server")), qPrintable(source));
            QVERIFY2(!source.startsWith(QStringLiteral("server_")), qPrintable(source));
        } else if (xml.name() == u"translation") {
            QVERIFY2(xml.attributes().value(QStringLiteral("type")).isEmpty(), qPrintable(source));
            QVERIFY2(!xml.readElementText().isEmpty(), qPrintable(source));
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(messages > 40);
}

void TranslationsTest::germanLocaleShowsGermanInterface()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    installTranslations(*QCoreApplication::instance());

    const QString exe =
        QString::fromLocal8Bit(qgetenv("VELMORA_BUILD_DIR")) + QStringLiteral("/velmora-launcher");
    const auto w = openWindow(exe);
    Launcher *launcher = w->launcher();
    Ui::LauncherWindow &ui = w->interface->ui();
    QCOMPARE(launcher->toolBarItems().value(QStringLiteral("1"))->label(),
             QStringLiteral("Allgemein"));
    QCOMPARE(launcher->toolBarItems().value(QStringLiteral("4"))->label(), QStringLiteral("Hilfe"));
    QCOMPARE(ui.playButton->text(), QStringLiteral("S&pielen"));
    QCOMPARE(ui.multiplayer->text(), QStringLiteral("S&tarten"));
    QCOMPARE(ui.fsaaCombo->itemText(0), QStringLiteral("Aus"));
    QCOMPARE(ui.console->accessibleName(), QStringLiteral("Serverkonsole"));
    QCOMPARE(ui.serverCommand->accessibleName(), QStringLiteral("Serverbefehl"));
    QCOMPARE(NewRowsButton::label(1), QStringLiteral("1 neue Zeile"));
    QCOMPARE(NewRowsButton::label(12), QStringLiteral("12 neue Zeilen"));
    QCOMPARE(ui.launchWrapperEdit->accessibleName(), QStringLiteral("Starten mit"));
    QCOMPARE(ui.copyCommandButton->text(), QStringLiteral("Befehl k&opieren"));

    // The stored keys and the entry titles handed to the game are not the interface's to translate.
    QCOMPARE(ui.resolutions->itemText(0), QStringLiteral("1024 x 768"));
    QCOMPARE(ui.resolutions->property("settingsKey").toString(), QStringLiteral("resolution"));
}

VELMORA_LAUNCHER_TEST_MAIN(TranslationsTest)

#include "tst_translations.moc"
