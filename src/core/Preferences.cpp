#include "Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include "PreferencesFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What this process keeps of a preferences file beyond the file itself.
struct Session
{
    // Set by the first reader that found something other than a regular file there.
    bool refused = false;
    // Values whose save failed (or that could not be saved at all): still this session's values.
    QHash<QString, QVariant> unsaved;
};

QHash<QString, Session> &sessions()
{
    static QHash<QString, Session> all;
    return all;
}

// The file format writes a UTF-16 code unit in at most 4 bytes (a control as "\x1f"). With no more
// text values than this (the launcher has six), all at their longest and the rest of the file
// besides, the file stays within what the next start reads.
constexpr qsizetype MaxStoredBytesPerUnit = 4;
constexpr qsizetype MaxTextValues = 12;
static_assert(MaxTextValues * Preferences::MaxTextLength * MaxStoredBytesPerUnit + 64 * 1024 <=
              PreferencesFile::MaxSize);

} // namespace

QString Preferences::standardFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velmora/Launcher.conf");
}

Preferences::Preferences() : Preferences(standardFileName()) {}

Preferences::Preferences(const QString &fileName) : m_fileName(fileName)
{
    Session &session = sessions()[m_fileName];
    if (session.refused)
        return;
    const PreferencesFile::Check check = PreferencesFile::check(m_fileName);
    if (check.kind == PreferencesFile::Check::Kind::Refused) {
        session.refused = true;
        m_newRefusal = check.reason;
        return;
    }
    // On this system the native format is this one; naming the file ourselves lets a link to
    // the file be written through instead of replaced.
    m_target = check.target;
    m_settings = std::make_unique<QSettings>(m_target, QSettings::IniFormat);
}

Preferences::~Preferences() = default;

void Preferences::forgetSession(const QString &fileName)
{
    sessions().remove(fileName);
}

int Preferences::integerFromText(QStringView text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

QVariant Preferences::value(QAnyStringView key) const
{
    const QString name = key.toString();
    const auto written = m_written.constFind(name);
    if (written != m_written.constEnd())
        return *written;
    const Session &session = sessions()[m_fileName];
    const auto unsaved = session.unsaved.constFind(name);
    if (unsaved != session.unsaved.constEnd())
        return *unsaved;
    return m_settings ? m_settings->value(name) : QVariant();
}

bool Preferences::contains(QAnyStringView key) const
{
    return value(key).isValid();
}

int Preferences::integerForKey(QAnyStringView key) const
{
    const QVariant value = this->value(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong wide = value.toLongLong(&ok);
        return ok && wide >= INT_MIN && wide <= INT_MAX ? int(wide) : 0;
    }
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return integerFromText(value.toString());
    default:
        return 0;
    }
}

QString Preferences::stringForKey(QAnyStringView key) const
{
    const QVariant value = this->value(key);
    switch (value.typeId()) {
    case QMetaType::QString: {
        QString text = value.toString();
        // An empty value is still a stored string, not an absent one.
        return text.isNull() ? QStringLiteral("") : text;
    }
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    case QMetaType::QStringList:
        // The file format split an unquoted comma into a list: take the text as the user wrote it.
        return rawText(key.toString());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return value.toString();
    default:
        return QString();
    }
}

QString Preferences::nonNullStringForKey(QAnyStringView key) const
{
    const QString text = stringForKey(key);
    return text.isNull() ? QStringLiteral("") : text;
}

void Preferences::setInteger(QAnyStringView key, int value)
{
    store(key, value);
}

bool Preferences::setString(QAnyStringView key, const QString &value)
{
    if (value.size() > MaxTextLength)
        return false;
    store(key, value);
    return true;
}

void Preferences::store(QAnyStringView key, const QVariant &value)
{
    m_written.insert(key.toString(), value);
    if (!m_settings)
        return;
    if (m_written.size() == 1)
        m_createError = createPrivateFile();
    m_settings->setValue(key, value);
}

int Preferences::createPrivateFile() const
{
    if (QFileInfo::exists(m_target))
        return 0;
    QDir().mkpath(QFileInfo(m_target).path());
    // O_EXCL: a link that leads nowhere is not followed to make a file at its far end.
    const int fd = ::open(QFile::encodeName(m_target).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? 0 : errno;
    ::close(fd);
    return 0;
}

// Opens what is at `target` without blocking and without following a link, and makes it private
// if it is a regular file of the user's own: what another user owns is theirs to protect.
static void makePrivate(const QString &target)
{
    const int fd = ::open(QFile::encodeName(target).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
}

void Preferences::protectFile() const
{
    // m_fileName, not m_target: a link at the path is not followed.
    if (!m_target.isEmpty())
        makePrivate(m_fileName);
}

QString Preferences::sync()
{
    Session &session = sessions()[m_fileName];
    if (!m_settings) {
        // Refused: kept for this session only.
        for (auto it = m_written.constBegin(); it != m_written.constEnd(); ++it)
            session.unsaved.insert(it.key(), it.value());
        m_written.clear();
        return m_newRefusal;
    }
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError) {
        makePrivate(m_target);
        for (auto it = m_written.constBegin(); it != m_written.constEnd(); ++it)
            session.unsaved.remove(it.key());
        m_written.clear();
        return QString();
    }
    for (auto it = m_written.constBegin(); it != m_written.constEnd(); ++it)
        session.unsaved.insert(it.key(), it.value());
    m_written.clear();
    return saveProblem(m_createError);
}

QString Preferences::saveProblem(int createError) const
{
    if (createError != 0)
        return qt_error_string(createError);
    const QByteArray target = QFile::encodeName(m_target);
    // The file is written as a new file beside it, then renamed over it.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_target).path());
    int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        QByteArray probe = folder + "/.velmora-XXXXXX";
        fd = ::mkostemp(probe.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(probe.constData());
    }
    if (fd < 0)
        return qt_error_string(errno);
    ::close(fd);
    fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT)
        return qt_error_string(errno);
    if (fd >= 0)
        ::close(fd);
    return QCoreApplication::translate("Preferences", "the file could not be written");
}

QString Preferences::rawText(const QString &key) const
{
    // Read once per reader, and only when a value needs it.
    if (!m_raw)
        m_raw = PreferencesFile::topLevelStrings(PreferencesFile::readRegular(m_target));
    return m_raw->value(key);
}
