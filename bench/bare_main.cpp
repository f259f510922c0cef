// The yardstick for start-up: a bare Qt main window with a toolbar and a few settings controls,
// about what the launcher's Main pane shows, and nothing behind them.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QToolBar>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare window"));

    QToolBar *toolbar = window.addToolBar(QStringLiteral("Panes"));
    toolbar->setAccessibleName(QStringLiteral("Panes"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->addAction(QStringLiteral("Main"));
    toolbar->addAction(QStringLiteral("Server"));
    toolbar->addAction(QStringLiteral("Help"));

    auto *central = new QWidget;
    auto *form = new QFormLayout(central);
    auto *resolution = new QComboBox;
    resolution->addItems({QStringLiteral("1024 x 768"), QStringLiteral("800 x 600")});
    resolution->setAccessibleName(QStringLiteral("Resolution"));
    form->addRow(QStringLiteral("Resolution:"), resolution);
    auto *fullscreen = new QCheckBox(QStringLiteral("Full screen"));
    fullscreen->setAccessibleName(QStringLiteral("Full screen"));
    form->addRow(fullscreen);
    auto *options = new QLineEdit;
    options->setAccessibleName(QStringLiteral("Options"));
    form->addRow(QStringLiteral("Options:"), options);
    auto *play = new QPushButton(QStringLiteral("Play"));
    play->setAccessibleName(QStringLiteral("Play"));
    form->addRow(play);
    window.setCentralWidget(central);

    window.show();
    return app.exec();
}
