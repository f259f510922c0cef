#pragma once

#include <QHash>
#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

// The user's preferences: a settings file in the native format under "Velmora"/"Launcher".
//
// Reading is forgiving, because the file is the user's and may have been edited by hand: an integer
// key that is absent or holds no integer reads 0, and a string key reads exactly the text that was
// written, even where the file format would see a list or a number in it.
//
// Each object reads the file afresh when it is made; callers make one per use and keep none.
//
// Only a regular file (or a link to one of the user's own, see PreferencesFile) is read or written.
// The first reader that finds anything else at the path refuses it for the rest of the process:
// from then on the preferences start empty, live in memory only, and nothing is written there. A
// value whose save fails is kept in memory too, so the rest of the session still uses it.
class Preferences
{
public:
    Preferences();
    // For tests and tools: preferences kept in an explicit file.
    explicit Preferences(const QString &fileName);
    ~Preferences();

    static Preferences standardUserDefaults() { return Preferences(); }
    // Where the user's preferences live: $XDG_CONFIG_HOME/Velmora/Launcher.conf.
    static QString standardFileName();

    // Whether the key holds a value at all: for the settings whose default is not 0.
    bool contains(QAnyStringView key) const;
    int integerForKey(QAnyStringView key) const;
    // A null QString when the key is absent or holds no text.
    QString stringForKey(QAnyStringView key) const;
    // Never null: "" wherever stringForKey() gives null.
    QString nonNullStringForKey(QAnyStringView key) const;

    // The longest text a setting keeps, in UTF-16 code units (QString::size()): far more than any
    // option, wrapper or environment needs, and few enough that every value at its longest still
    // makes a file that the next start reads (see PreferencesFile::MaxSize). Shorter than a line
    // edit holds, so that a paste the field has cut is refused too, never stored cut.
    static constexpr qsizetype MaxTextLength = 16384;

    // Writers, used only by the settings controls' binding.
    void setInteger(QAnyStringView key, int value);
    // Refuses a value longer than MaxTextLength whole: false, and the key keeps its value.
    bool setString(QAnyStringView key, const QString &value);

    QString fileName() const { return m_fileName; }

    // Why the preferences at fileName() cannot be used, when this reader is the one that found
    // out (so that it is told once); empty otherwise.
    QString refusal() const { return m_newRefusal; }

    // Writes the preferences out and answers why that failed ("" when it did not, or when the
    // file was refused before and nothing is written). The file holds the server password, so it
    // is kept readable and writable by the user alone.
    QString sync();
    // Makes an existing preferences file private to the user, as a file written by an older
    // launcher or by hand may not be. Creates nothing, and changes nothing but a regular file of
    // the user's own at the path itself: a file that a link leads to is the user's to arrange,
    // and is made private only when the launcher writes it.
    void protectFile() const;

    // Parses an integer the way a stored preference is read: surrounding blanks allowed, anything
    // that is not a whole 32-bit decimal number reads 0.
    static int integerFromText(QStringView text);

    // Forgets what this process refused and kept in memory for `fileName`. For tests.
    static void forgetSession(const QString &fileName);

private:
    QVariant value(QAnyStringView key) const;
    QString rawText(const QString &key) const;
    void store(QAnyStringView key, const QVariant &value);
    // Before the first value is written: the file comes into being private, never readable by
    // others even for a moment. Answers errno when it cannot be made.
    int createPrivateFile() const;
    QString saveProblem(int createError) const;

    QString m_fileName;
    QString m_target; // the regular file read and written; empty when refused
    QString m_newRefusal;
    std::unique_ptr<QSettings> m_settings; // none when refused
    QHash<QString, QVariant> m_written;    // by this reader, not yet saved
    int m_createError = 0;
    mutable std::optional<QHash<QString, QString>> m_raw;
};
