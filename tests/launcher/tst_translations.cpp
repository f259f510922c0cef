// The German interface, the texts that must never be translated, and every language's Alt keys.
#include "LauncherFixture.h"
#include "UrlRecorder.h"

#include "NewRowsButton.h"
#include "ToolbarItem.h"
#include "Translations.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

using namespace LauncherFixture;

class TranslationsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void germanCatalogueIsComplete();
    void noTwoControlsShareAnAltKey();
    void germanLocaleShowsGermanInterface();
};

// Texts that share a mnemonic within one scope: each menu's items, and the labels and buttons of
// the window but `hiddenPane` (the shown pane's, the menu titles', toolbar's, message bar's).
static QStringList mnemonicClashes(QMainWindow *window, QWidget *hiddenPane)
{
    QList<QStringList> scopes{{}};
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget->inherits("QMenu")) {
            scopes.first() << widget->property("title").toString();
            scopes.append(QStringList());
            for (const QAction *item : widget->actions())
                scopes.last() << item->text();
        } else if ((widget->inherits("QLabel") || widget->inherits("QAbstractButton")) &&
                   !hiddenPane->isAncestorOf(widget)) {
            scopes.first() << widget->property("text").toString();
        }
    }
    QStringList found;
    for (const QStringList &texts : std::as_const(scopes)) {
        QHash<QKeySequence, QString> seen;
        for (const QString &text : texts) {
            const QKeySequence key = QKeySequence::mnemonic(text);
            if (!key.isEmpty() && seen.contains(key))
                found << seen.value(key) + u'/' + text;
            seen.insert(key, text);
        }
    }
    return found;
}

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

void TranslationsTest::noTwoControlsShareAnAltKey()
{
    const QDir i18n(qEnvironmentVariable("VELMORA_TEST_SOURCE_DIR") + "/../../resources/i18n");
    // The interface file's English, then each translation.
    for (const QString &file : QStringList{QString()} + i18n.entryList({"velmora_*.ts"})) {
        QTranslator catalogue;
        QVERIFY(file.isEmpty() || catalogue.load(":/i18n/" + file.chopped(3)));
        QCoreApplication::installTranslator(&catalogue);
        const auto w = openWindow(qEnvironmentVariable("VELMORA_BUILD_DIR") + "/velmora-launcher");
        Ui::LauncherWindow &ui = w->interface->ui();
        Ui::ServerPaneForm &server = w->interface->serverUi();
        QMainWindow *window = w->interface->window();
        QStringList found = mnemonicClashes(window, ui.view1) + mnemonicClashes(window, ui.view2);
        // The title the button takes while a server runs.
        server.multiplayer->setText(QCoreApplication::translate("ServerPane", "&Stop"));
        found << mnemonicClashes(window, ui.view1);
        QCoreApplication::removeTranslator(&catalogue);
        QVERIFY2(found.isEmpty(), qPrintable(file + u' ' + found.join(u' ')));
    }
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
    Ui::ServerPaneForm &server = w->interface->serverUi();
    QCOMPARE(launcher->toolBarItems().value(QStringLiteral("1"))->label(),
             QStringLiteral("Allgemein"));
    QCOMPARE(launcher->toolBarItems().value(QStringLiteral("4"))->label(), QStringLiteral("Hilfe"));
    QCOMPARE(ui.playButton->text(), QStringLiteral("S&pielen"));
    QCOMPARE(server.multiplayer->text(), QStringLiteral("S&tarten"));
    QCOMPARE(ui.fsaaCombo->itemText(0), QStringLiteral("Aus"));
    QCOMPARE(server.console->accessibleName(), QStringLiteral("Serverkonsole"));
    QCOMPARE(server.serverCommand->accessibleName(), QStringLiteral("Serverbefehl"));
    QCOMPARE(NewRowsButton::label(1), QStringLiteral("1 neue Zeile"));
    QCOMPARE(NewRowsButton::label(12), QStringLiteral("12 neue Zeilen"));
    QCOMPARE(ui.launchWrapperEdit->accessibleName(), QStringLiteral("Starten mit"));
    QCOMPARE(ui.copyCommandButton->text(), QStringLiteral("Befehl k&opieren"));
    UrlRecorder help; // the German page beside the launcher
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &help, "openUrl");
    launcher->helpAction();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(help.urls.value(0).fileName(), QStringLiteral("README.de.html"));

    // The stored keys and the entry titles handed to the game are not the interface's to translate.
    QCOMPARE(ui.resolutions->itemText(0), QStringLiteral("1024 x 768"));
    QCOMPARE(ui.resolutions->property("settingsKey").toString(), QStringLiteral("resolution"));
}

VELMORA_LAUNCHER_TEST_MAIN(TranslationsTest)

#include "tst_translations.moc"
