#include "GameWindow.h"

#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString valueText(const std::optional<std::string> &value)
{
    if (!value)
        return GameWindow::tr("(not given)");
    return value->empty() ? QStringLiteral("«»") : QString::fromStdString(*value);
}

} // namespace

GameWindow::GameWindow(const OrvaneOptions &options, const QStringList &arguments,
                       const QString &workingDirectory, QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Orvane"));
    setAccessibleName(tr("Orvane"));

    auto *form = new QFormLayout;
    addRow(form, tr("Resolution:"), resolutionText(options), QStringLiteral("resolution"));
    addRow(form, tr("Display:"), displayModeText(options), QStringLiteral("displayMode"));
    addRow(form, tr("Anti-aliasing:"), valueText(options.antiAliasing),
           QStringLiteral("antiAliasing"));
    addRow(form, tr("Shaders:"), valueText(options.shaders), QStringLiteral("shaders"));
    addRow(form, tr("Colour depth:"), valueText(options.colourDepth),
           QStringLiteral("colourDepth"));
    addRow(form, tr("Working directory:"), workingDirectory, QStringLiteral("workingDirectory"));

    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("arguments"));
    list->setAccessibleName(tr("Arguments"));
    for (const QString &argument : arguments)
        list->addItem(argumentText(argument));
    auto *listLabel = new QLabel(tr("Arguments (%n):", nullptr, int(arguments.size())));
    listLabel->setBuddy(list);

    auto *quit = new QPushButton(tr("Quit"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setAccessibleName(tr("Quit"));
    connect(quit, &QPushButton::clicked, this, &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(listLabel);
    layout->addWidget(list, 1);
    layout->addWidget(quit, 0, Qt::AlignRight);
    resize(520, 420);
}

QLabel *GameWindow::addRow(QFormLayout *form, const QString &label, const QString &value,
                           const QString &objectName)
{
    auto *field = new QLabel(value);
    field->setObjectName(objectName);
    field->setTextFormat(Qt::PlainText);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    field->setWordWrap(true);
    QString name = label;
    name.chop(1);
    field->setAccessibleName(name);
    form->addRow(label, field);
    return field;
}

QString GameWindow::argumentText(const QString &argument)
{
    return QStringLiteral("«") + argument + QStringLiteral("»");
}

QString GameWindow::resolutionText(const OrvaneOptions &options)
{
    if (!options.width && !options.height)
        return tr("(not given)");
    return valueText(options.width) + QStringLiteral(" x ") + valueText(options.height);
}

QString GameWindow::displayModeText(const OrvaneOptions &options)
{
    if (options.windowed)
        return tr("Windowed");
    return tr("Full screen (requested; the stand-in stays in a window)");
}
