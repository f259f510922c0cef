#pragma once

#include "OrvaneOptions.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;

// The stand-in game's window: what the game was asked for (resolution, full screen or windowed,
// anti-aliasing, shaders, colour depth), every argument it received and its working directory.
// It never goes full screen itself; it only says whether it was asked to.
class GameWindow : public QWidget
{
    Q_OBJECT

public:
    // `arguments` are argv[1..] as text; `options` is what was parsed from the same arguments.
    GameWindow(const OrvaneOptions &options, const QStringList &arguments,
               const QString &workingDirectory, QWidget *parent = nullptr);

    // How one argument is listed: inside « », so that empty arguments and outer spaces show.
    static QString argumentText(const QString &argument);
    static QString resolutionText(const OrvaneOptions &options);
    static QString displayModeText(const OrvaneOptions &options);

private:
    QLabel *addRow(class QFormLayout *form, const QString &label, const QString &value,
                   const QString &objectName);
};
