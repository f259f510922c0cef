// Reading the preferences file as a user or an older launcher may have left it.
#include "Preferences.h"
#include "SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

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
    void tooLongIsRefused();
    void fileIsPrivate();
    void newFileIsPrivateFromTheStart();
    void oldFileIsProtected();
    void commaFallback_data();
    void commaFallback();
    void onlyRegularFilesAreUsed_data();
    void onlyRegularFilesAreUsed();

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
    QTest::newRow("longest controls") << QString(Preferences::MaxTextLength, u'\x1f');
    QTest::newRow("longest controls and digits") << QStringLiteral("\x01\x66").repeated(8192);
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
    QVERIFY(QFileInfo(file).size() <= 64 + 4 * value.size()); // so every value fits at its longest
}

void PreferencesTest::tooLongIsRefused()
{
    const QString file = writeFile("advancedOptions=before\n");
    Preferences prefs(file);
    const QString tooLong(Preferences::MaxTextLength + 1, u'x');
    QVERIFY(!prefs.setString(SettingsKeys::advancedOptions, tooLong));
    QCOMPARE(prefs.sync(), QString());
    QCOMPARE(Preferences(file).stringForKey(SettingsKeys::advancedOptions), u"before");
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

void PreferencesTest::commaFallback_data()
{
    // A whole file, as a user may have written it; "v" holds an unquoted comma somewhere, so the
    // format reads it as a list and the text is taken as one string instead.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("asString");

    QTest::newRow("no [General] header") << QByteArray("v=-foo, -bar\n") << "-foo, -bar";
    QTest::newRow("[General] header") << QByteArray("[General]\nv=-foo, -bar\n") << "-foo, -bar";
    QTest::newRow("lower-case header") << QByteArray("[general]\nv=a,b\n") << "a,b";
    QTest::newRow("quotes decoded") << QByteArray("v=\"a, b\", c\n") << "a, b, c";
    QTest::newRow("quoted blanks kept, unquoted ones trimmed")
        << QByteArray("v=  \" x \" , y  \n") << " x , y";
    QTest::newRow("escapes decoded")
        << QByteArray("v=a\\tb, c\\\\d, \\\"e\\\"\n") << "a\tb, c\\d, \"e\"";
    QTest::newRow("hex and octal escapes") << QByteArray("v=\\x41, \\102\n") << "A, B";
    QTest::newRow("UTF-8") << QByteArray("v=Grüße, Ωmega\n") << "Grüße, Ωmega";
    QTest::newRow("last of duplicate keys")
        << QByteArray("v=first, one\nv=last, one\n") << "last, one";
    QTest::newRow("duplicates across [General] and no header")
        << QByteArray("v=first, one\n[General]\nv=last, one\n") << "last, one";
    QTest::newRow("other sections ignored")
        << QByteArray("[General]\nv=a, b\n[Other]\nv=c, d\n") << "a, b";
    QTest::newRow("comment lines and CR LF")
        << QByteArray("; v=x, y\r\nv=a, b\r\n; v=z, z\r\n") << "a, b";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFv=a, b\n") << "a, b";
}

void PreferencesTest::commaFallback()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, asString);
    const QString name = m_dir.filePath(QStringLiteral("comma%1.conf").arg(++m_files));
    QFile out(name);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    QCOMPARE(Preferences(name).stringForKey("v"), asString);
}

namespace {

enum class Kind
{
    Regular,
    LinkToRegular,
    Directory,
    Fifo,
    Socket,
    LinkToDevice,
    Huge,
    DanglingLink,
    BelowAFile,
    LinkToForeign, // to another user's file, which all may write
    LinkIntoShared,
    LinkThroughShared, // through a link in a folder all may write (sticky, as /tmp)
};

// Puts a thing of `kind` at `path` (inside `dir`); false when this machine cannot make it.
bool makeAt(Kind kind, const QString &dir, const QString &path)
{
    const QByteArray at = QFile::encodeName(path);
    const QByteArray regular = QFile::encodeName(dir + QStringLiteral("/real.conf"));
    const auto write = [](const QByteArray &name, const QByteArray &text) {
        QFile file(QFile::decodeName(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    switch (kind) {
    case Kind::Regular:
        return write(at, "[General]\nv=stored\n");
    case Kind::LinkToRegular:
        return write(regular, "[General]\nv=stored\n") && ::symlink(regular, at) == 0;
    case Kind::Directory:
        return ::mkdir(at, 0755) == 0;
    case Kind::Fifo:
        return ::mkfifo(at, 0644) == 0;
    case Kind::Socket: {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (at.size() >= qsizetype(sizeof address.sun_path))
            return false;
        qstrncpy(address.sun_path, at.constData(), sizeof address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd); // the socket file stays
        return bound;
    }
    case Kind::LinkToDevice: {
        // A private null device, so that a fault can never touch the system's /dev/null.
        const QByteArray device = QFile::encodeName(dir + QStringLiteral("/null"));
        return ::mknod(device, S_IFCHR | 0666, makedev(1, 3)) == 0 && ::symlink(device, at) == 0;
    }
    case Kind::Huge:
        return write(at, "[General]\nv=stored\n" + QByteArray(1024 * 1024, ';'));
    case Kind::DanglingLink:
        return ::symlink(regular, at) == 0;
    case Kind::BelowAFile:
        return write(QFile::encodeName(QFileInfo(path).path()), "a file, not a folder\n");
    case Kind::LinkToForeign:
        return ::geteuid() == 0 && makeAt(Kind::LinkToRegular, dir, path) &&
               ::chown(regular, 65534, 65534) == 0 && ::chmod(regular, 0666) == 0;
    case Kind::LinkIntoShared:
    case Kind::LinkThroughShared:
        const QByteArray shared = QFile::encodeName(dir + QStringLiteral("/shared"));
        const QByteArray file = kind == Kind::LinkIntoShared ? shared + "/real.conf" : regular;
        return ::mkdir(shared, 0700) == 0 && ::chmod(shared, 01777) == 0 &&
               write(file, "[General]\nv=stored\n") && ::symlink(file, shared + "/hop") == 0 &&
               ::symlink(shared + "/hop", at) == 0;
    }
    return false;
}

// What lies at a path (the link itself, and what it leads to), to see that nothing changed.
QString describe(const QString &path)
{
    const QByteArray at = QFile::encodeName(path);
    struct stat link = {};
    struct stat file = {};
    if (::lstat(at, &link) != 0)
        return QStringLiteral("nothing");
    const bool leads = ::stat(at, &file) == 0;
    return QStringLiteral("%1 %2 -> %3 %4 %5")
        .arg(link.st_mode, 0, 8)
        .arg(link.st_ino)
        .arg(leads ? file.st_mode : 0, 0, 8)
        .arg(leads ? file.st_size : -1)
        .arg(leads ? file.st_mtim.tv_nsec : -1);
}

} // namespace

Q_DECLARE_METATYPE(Kind)

void PreferencesTest::onlyRegularFilesAreUsed_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("read");    // what "v" reads at start-up
    QTest::addColumn<bool>("refused");    // told at start-up, never written
    QTest::addColumn<QString>("problem"); // what a save answers for a file not refused

    QTest::newRow("regular file") << Kind::Regular << "stored" << false << "";
    QTest::newRow("link to a regular file") << Kind::LinkToRegular << "stored" << false << "";
    QTest::newRow("directory") << Kind::Directory << QString() << true << "";
    QTest::newRow("FIFO") << Kind::Fifo << QString() << true << "";
    QTest::newRow("socket") << Kind::Socket << QString() << true << "";
    QTest::newRow("link to a character device") << Kind::LinkToDevice << QString() << true << "";
    QTest::newRow("larger than 1 MiB") << Kind::Huge << QString() << true << "";
    QTest::newRow("link to nothing") << Kind::DanglingLink << QString() << true << "";
    QTest::newRow("link to another user's file") << Kind::LinkToForeign << QString() << true << "";
    QTest::newRow("link into a shared folder") << Kind::LinkIntoShared << QString() << true << "";
    QTest::newRow("link through a shared folder")
        << Kind::LinkThroughShared << QString() << true << "";
    QTest::newRow("path through a regular file")
        << Kind::BelowAFile << QString() << false << qt_error_string(ENOTDIR);
}

void PreferencesTest::onlyRegularFilesAreUsed()
{
    QFETCH(Kind, kind);
    QFETCH(QString, read);
    QFETCH(bool, refused);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(kind == Kind::BelowAFile ? QStringLiteral("file/p.conf")
                                                               : QStringLiteral("p.conf"));
    if (!makeAt(kind, dir.path(), path))
        QSKIP("this machine cannot make that kind of file here");
    const QString before = describe(path);

    {
        const Preferences prefs(path);
        QCOMPARE(prefs.refusal().isEmpty(), !refused);
        QCOMPARE(prefs.stringForKey("v"), read);
        prefs.protectFile();
    }
    if (kind != Kind::Regular)
        QCOMPARE(describe(path), before); // a link's file is the user's to arrange until a save
    {
        Preferences prefs(path);
        prefs.setString("v", QStringLiteral("changed"));
        QCOMPARE(prefs.sync(), problem); // a refusal is told once, by the reader that found it
    }
    // The value is this session's, saved or not.
    const Preferences after(path);
    QCOMPARE(after.stringForKey("v"), QStringLiteral("changed"));
    QVERIFY(after.refusal().isEmpty());

    if (refused || !problem.isEmpty()) {
        QCOMPARE(describe(path), before); // not replaced, not changed, not chmod'ed
        Preferences::forgetSession(path);
        QVERIFY(Preferences(path).stringForKey("v").isNull()); // and gone with the session
    } else {
        // Written where it lies: a link stays a link, to the same file.
        QFileInfo info(path);
        QCOMPARE(info.isSymLink(), kind == Kind::LinkToRegular);
        Preferences::forgetSession(path);
        QCOMPARE(Preferences(path).stringForKey("v"), QStringLiteral("changed"));
        QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
    }
}

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
