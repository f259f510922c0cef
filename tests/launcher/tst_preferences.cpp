// Reading the preferences file as a user or an older launcher may have left it.
#include "Preferences.h"
#include "SettingsKeys.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class PreferencesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void absentKeys();
    void handWrittenValues_data();
    void handWrittenValues();
    void roundTrip_data();
    void roundTrip();
    void fileIsPrivate();
    void newFileIsPrivateFromTheStart();
    void oldFileIsProtected();

private:
    QString writeFile(const QByteArray &general);
    QTemporaryDir m_dir;
    int m_files = 0;
};

void PreferencesTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString PreferencesTest::writeFile(const QByteArray &general)
{
    const QString name = m_dir.filePath(QStringLiteral("prefs%1.conf").arg(++m_files));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("[General]\n" + general);
    return name;
}

void PreferencesTest::absentKeys()
{
    const Preferences prefs(writeFile(QByteArray()));
    QCOMPARE(prefs.integerForKey(SettingsKeys::fullscreen), 0);
    QVERIFY(prefs.stringForKey(SettingsKeys::advancedOptions).isNull());
    const QString text = prefs.nonNullStringForKey(SettingsKeys::advancedOptions);
    QVERIFY(!text.isNull());
    QCOMPARE(text, QString());
}

void PreferencesTest::handWrittenValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("asInteger");
    QTest::addColumn<QString>("asString");

    QTest::newRow("number") << QByteArray("v=42") << 42 << "42";
    QTest::newRow("negative") << QByteArray("v=-1") << -1 << "-1";
    QTest::newRow("spaces around a number") << QByteArray("v=\" 7 \"") << 7 << " 7 ";
    QTest::newRow("true is no integer") << QByteArray("v=true") << 0 << "true";
    QTest::newRow("word") << QByteArray("v=high") << 0 << "high";
    QTest::newRow("trailing junk") << QByteArray("v=12abc") << 0 << "12abc";
    QTest::newRow("too large") << QByteArray("v=99999999999") << 0 << "99999999999";
    QTest::newRow("unquoted comma") << QByteArray("v=-foo, -bar") << 0 << "-foo, -bar";
    QTest::newRow("quoted comma") << QByteArray("v=\"-foo, -bar\"") << 0 << "-foo, -bar";
    QTest::newRow("quoted leading and trailing spaces")
        << QByteArray("v=\"  a b \"") << 0 << "  a b ";
    QTest::newRow("empty value") << QByteArray("v=") << 0 << "";
    QTest::newRow("typed byte array is no string") << QByteArray("v=@ByteArray(abc)") << 0 << "abc";
    QTest::newRow("typed rectangle") << QByteArray("v=@Rect(1 2 3 4)") << 0 << QString();
}

void PreferencesTest::handWrittenValues()
{
    QFETCH(QByteArray, line);
    QFETCH(int, asInteger);
    QFETCH(QString, asString);
    const Preferences prefs(writeFile(line + '\n'));
    QCOMPARE(prefs.integerForKey("v"), asInteger);
    QCOMPARE(prefs.stringForKey("v"), asString);
    QCOMPARE(prefs.stringForKey("v").isNull(), asString.isNull());
    QVERIFY(!prefs.nonNullStringForKey("v").isNull());
}

void PreferencesTest::roundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("comma") << "a, b,c";
    QTest::newRow("spaces") << "  two  spaces ";
    QTest::newRow("true") << "true";
    QTest::newRow("number") << "123";
    QTest::newRow("quotes and backslash") << "say \"hi\" \\o/";
    QTest::newRow("non-ASCII") << "Grüße, Ωmega ☃";
    QTest::newRow("at sign") << "@Variant(nope)";
    QTest::newRow("equals and semicolon") << "a=b;c";
}

void PreferencesTest::roundTrip()
{
    QFETCH(QString, value);
    const QString file = writeFile(QByteArray());
    {
        Preferences prefs(file);
        prefs.setString(SettingsKeys::advancedOptions, value);
        prefs.sync();
    }
    const Preferences again(file);
    QCOMPARE(again.nonNullStringForKey(SettingsKeys::advancedOptions), value);
}

void PreferencesTest::newFileIsPrivateFromTheStart()
{
    const QString file = m_dir.filePath(QStringLiteral("new/folder/prefs.conf"));
    Preferences prefs(file);
    prefs.setString(SettingsKeys::serverPassword, QStringLiteral("hunter2"));
    // Before anything has been written out, the file exists and is private already.
    QVERIFY(QFile::exists(file));
    QCOMPARE(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    prefs.sync();
    QCOMPARE(Preferences(file).stringForKey(SettingsKeys::serverPassword),
             QStringLiteral("hunter2"));
}

void PreferencesTest::oldFileIsProtected()
{
    const QString file = writeFile("server_password=hunter2\n");
    QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::ReadOther));
    Preferences(file).protectFile();
    QCOMPARE(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    // Protecting creates nothing.
    const QString absent = m_dir.filePath(QStringLiteral("absent.conf"));
    Preferences(absent).protectFile();
    QVERIFY(!QFile::exists(absent));
}

void PreferencesTest::fileIsPrivate()
{
    const QString file = writeFile(QByteArray());
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadOther | QFileDevice::ReadGroup);
    Preferences prefs(file);
    prefs.setString(SettingsKeys::serverPassword, QStringLiteral("hunter2"));
    prefs.sync();
    QCOMPARE(QFile::permissions(file) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
