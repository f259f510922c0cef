#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class Preferences;
class QWidget;

// Binds the settings controls of the interface file to the user's preferences. A control takes part
// when it carries the dynamic property "settingsKey"; the binding shows the stored value at
// start-up and stores the user's changes, and it is the only writer of the preferences.
//
//  - QComboBox: the selected position, or, when the control carries "settingsValues" (a comma
//    separated list of integers, one per entry), the value of the selected entry. A stored value
//    that matches no entry is shown as no selection and kept until the user chooses.
//  - QCheckBox: 1 when checked, 0 otherwise.
//  - QSpinBox: its value.
//  A check box or spin box that carries "settingsDefault" (an integer) shows that value while the
//  key is absent, for the settings that are not off by default; nothing is stored until the user
//  changes it.
//  - QLineEdit: its text, when editing finishes (or when commitEditing() is asked for).
//  - QPlainTextEdit: its text, when the focus leaves it (or when commitEditing() is asked for);
//    Return there starts a new line rather than finishing the edit.
//
// Only the user's own changes are stored: filling a list from code writes nothing. A change whose
// save fails stays in its control and is used for the rest of the session; saveFailed() says so,
// once for each failed save. Text longer than a setting keeps is refused whole (tooLong()), at
// each attempt to store it.
class SettingsBinding : public QObject
{
    Q_OBJECT
public:
    explicit SettingsBinding(QObject *parent = nullptr);

    // Binds every control carrying "settingsKey" under `root`, and shows the stored values as
    // `prefs` (or a reader of its own) reads them.
    void bind(QWidget *root);
    void bind(QWidget *root, const Preferences &prefs);
    // Shows the stored values again in every bound control except resolution lists, whose entries
    // are filled later from the displays.
    void load();
    // Stores what is still being typed in any bound text field, as leaving the field would.
    void commitEditing();

    // Text typed into bound fields and not stored yet, by key: what commitEditing() would store
    // (text longer than a setting keeps is left out).
    QHash<QString, QString> uncommittedText() const;

    static QString keyOf(const QWidget *control);

Q_SIGNALS:
    // A change could not be written to `fileName`; `reason` is the system's.
    void saveFailed(const QString &fileName, const QString &reason);
    // The text of the field named `field` (its accessible name) is longer than the `limit`
    // characters a setting keeps: it is not stored, and the setting keeps its value.
    void tooLong(const QString &field, qsizetype limit);
    // The user changed a bound control, stored or still being typed.
    void edited();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void writeInteger(const QString &key, int value);
    void save(Preferences &prefs);
    void bindControl(QWidget *control, const Preferences &prefs);
    void loadControl(QWidget *control, const Preferences &prefs);
    void storeText(QWidget *control);

    QList<QPointer<QWidget>> m_controls;
};
