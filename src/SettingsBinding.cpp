#include "SettingsBinding.h"

#include "Preferences.h"
#include "SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVariant>

#include <optional>

namespace {

QList<int> comboValues(const QComboBox *combo)
{
    QList<int> values;
    const QString offered = combo->property("settingsValues").toString();
    if (offered.isEmpty())
        return values;
    for (const QString &piece : offered.split(u','))
        values << Preferences::integerFromText(piece);
    return values;
}

int storedOrDefault(const QWidget *control, const Preferences &prefs)
{
    const QString key = SettingsBinding::keyOf(control);
    const QVariant fallback = control->property("settingsDefault");
    if (fallback.isValid() && !prefs.contains(key))
        return fallback.toInt();
    return prefs.integerForKey(key);
}

} // namespace

void SettingsBinding::writeInteger(const QString &key, int value)
{
    Preferences prefs;
    prefs.setInteger(key, value);
    save(prefs);
}

void SettingsBinding::save(Preferences &prefs)
{
    const QString problem = prefs.sync();
    if (!problem.isEmpty())
        Q_EMIT saveFailed(prefs.fileName(), problem);
}

SettingsBinding::SettingsBinding(QObject *parent) : QObject(parent) {}

QString SettingsBinding::keyOf(const QWidget *control)
{
    return control->property("settingsKey").toString();
}

void SettingsBinding::bind(QWidget *root)
{
    bind(root, Preferences());
}

void SettingsBinding::bind(QWidget *root, const Preferences &prefs)
{
    QList<QWidget *> candidates = root->findChildren<QWidget *>();
    candidates.prepend(root);
    for (QWidget *control : candidates) {
        if (!keyOf(control).isEmpty())
            bindControl(control, prefs);
    }
}

void SettingsBinding::bindControl(QWidget *control, const Preferences &prefs)
{
    m_controls << control;
    const QString key = keyOf(control);
    if (auto *combo = qobject_cast<QComboBox *>(control)) {
        // activated() comes from the user only, never from filling or selecting in code.
        connect(combo, &QComboBox::activated, this, [this, combo, key](int index) {
            const QList<int> values = comboValues(combo);
            writeInteger(key, values.isEmpty() ? index : values.value(index));
            Q_EMIT edited();
        });
    } else if (auto *check = qobject_cast<QCheckBox *>(control)) {
        // toggled(), not clicked(): assistive tools toggle a check box without clicking it.
        // Showing the stored value blocks signals, so only the user's changes get here.
        connect(check, &QCheckBox::toggled, this, [this, key](bool checked) {
            writeInteger(key, checked ? 1 : 0);
            Q_EMIT edited();
        });
    } else if (auto *spin = qobject_cast<QSpinBox *>(control)) {
        connect(spin, &QSpinBox::valueChanged, this, [this, key](int value) {
            writeInteger(key, value);
            Q_EMIT edited();
        });
    } else if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] { storeText(edit); });
        connect(edit, &QLineEdit::textEdited, this, &SettingsBinding::edited);
    } else if (auto *text = qobject_cast<QPlainTextEdit *>(control)) {
        // Showing the stored value blocks signals, so textChanged() here is the user's typing.
        connect(text, &QPlainTextEdit::textChanged, this, &SettingsBinding::edited);
        text->installEventFilter(this);
    }
    loadControl(control, prefs);
}

void SettingsBinding::load()
{
    const Preferences prefs;
    for (const QPointer<QWidget> &control : std::as_const(m_controls)) {
        if (control)
            loadControl(control, prefs);
    }
}

void SettingsBinding::loadControl(QWidget *control, const Preferences &prefs)
{
    const QString key = keyOf(control);
    const QSignalBlocker blocker(control);
    if (auto *combo = qobject_cast<QComboBox *>(control)) {
        if (key == SettingsKeys::resolution)
            return; // filled and selected from the displays at start-up
        const int stored = prefs.integerForKey(key);
        const QList<int> values = comboValues(combo);
        combo->setCurrentIndex(values.isEmpty() ? stored : int(values.indexOf(stored)));
    } else if (auto *check = qobject_cast<QCheckBox *>(control)) {
        check->setChecked(storedOrDefault(control, prefs) != 0);
    } else if (auto *spin = qobject_cast<QSpinBox *>(control)) {
        spin->setValue(storedOrDefault(control, prefs));
    } else if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        edit->setText(prefs.nonNullStringForKey(key));
        edit->setModified(false);
    } else if (auto *text = qobject_cast<QPlainTextEdit *>(control)) {
        text->setPlainText(prefs.nonNullStringForKey(key));
        text->document()->setModified(false);
    }
}

namespace {

// The text of a bound field the user has changed and that is not stored yet. (A field emptied by
// the user has a null text, so "nothing pending" cannot be told by a null string.)
std::optional<QString> pendingText(QWidget *control)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control); edit && edit->isModified())
        return edit->text();
    if (auto *text = qobject_cast<QPlainTextEdit *>(control);
        text && text->document()->isModified())
        return text->toPlainText();
    return std::nullopt;
}

} // namespace

void SettingsBinding::storeText(QWidget *control)
{
    // A field the user left untouched stores nothing, so an absent key stays absent.
    const std::optional<QString> text = pendingText(control);
    if (!text)
        return;
    Preferences prefs;
    if (!prefs.setString(keyOf(control), *text)) {
        // Neither stored nor cut: the field keeps the text for the user to shorten, and the
        // setting keeps its value.
        Q_EMIT tooLong(control->accessibleName(), Preferences::MaxTextLength);
        return;
    }
    // Stored or not, the value is this session's now: a failed save is told, not retried.
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setModified(false);
    else if (auto *plain = qobject_cast<QPlainTextEdit *>(control))
        plain->document()->setModified(false);
    save(prefs);
}

QHash<QString, QString> SettingsBinding::uncommittedText() const
{
    QHash<QString, QString> typed;
    for (const QPointer<QWidget> &control : m_controls) {
        if (!control)
            continue;
        // Text that storing would refuse is not what Play runs.
        const std::optional<QString> text = pendingText(control);
        if (text && text->size() <= Preferences::MaxTextLength)
            typed.insert(keyOf(control), *text);
    }
    return typed;
}

bool SettingsBinding::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && qobject_cast<QPlainTextEdit *>(watched))
        storeText(static_cast<QWidget *>(watched));
    return QObject::eventFilter(watched, event);
}

void SettingsBinding::commitEditing()
{
    for (const QPointer<QWidget> &control : std::as_const(m_controls)) {
        if (auto *spin = qobject_cast<QSpinBox *>(control.data()))
            spin->interpretText(); // a number still being typed
        else if (control)
            storeText(control);
    }
}
