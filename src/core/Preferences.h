#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The user's preferences: QSettings in the native format under "Velmora"/"Launcher".
//
// Reading is forgiving, because the file is the user's and may have been edited by hand: an integer
// key that is absent or holds no integer reads 0, and a string key reads exactly the text that was
// written, even where the file format would see a list or a number in it.
//
// Each object reads the file afresh when it is made; callers make one per use and keep none.
class Preferences
{
public:
    Preferences();
    // For tests and tools: preferences kept in an explicit file.
    explicit Preferences(const QString &fileName);

    static Preferences standardUserDefaults() { return Preferences(); }

    int integerForKey(QAnyStringView key) const;
    // A null QString when the key is absent or holds no text.
    QString stringForKey(QAnyStringView key) const;
    // Never null: "" wherever stringForKey() gives null.
    QString nonNullStringForKey(QAnyStringView key) const;

    // Writers, used only by the settings controls' binding.
    void setInteger(QAnyStringView key, int value);
    void setString(QAnyStringView key, const QString &value);

    QString fileName() const { return m_settings->fileName(); }
    // Writes the preferences out. The file holds the server password, so it is kept readable and
    // writable by the user alone.
    void sync();
    // Makes an existing preferences file private to the user, as a file written by an older
    // launcher or by hand may not be. Creates nothing.
    void protectFile() const;

    // Parses an integer the way a stored preference is read: surrounding blanks allowed, anything
    // that is not a whole 32-bit decimal number reads 0.
    static int integerFromText(QStringView text);

private:
    QString rawText(QAnyStringView key) const;
    // Before the first value is written: the file comes into being private, never readable by
    // others even for a moment.
    void createPrivateFile() const;

    std::unique_ptr<QSettings> m_settings;
};
