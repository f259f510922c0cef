#include "Preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr auto organization = "Velmora";
constexpr auto application = "Launcher";
} // namespace

Preferences::Preferences()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QLatin1String(organization),
                                             QLatin1String(application)))
{}

Preferences::Preferences(const QString &fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{}

int Preferences::integerFromText(QStringView text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

int Preferences::integerForKey(QAnyStringView key) const
{
    const QVariant value = m_settings->value(key);
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
    const QVariant value = m_settings->value(key);
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
        return rawText(key);
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
    createPrivateFile();
    m_settings->setValue(key, value);
}

void Preferences::setString(QAnyStringView key, const QString &value)
{
    createPrivateFile();
    m_settings->setValue(key, value);
}

void Preferences::createPrivateFile() const
{
    const QString name = m_settings->fileName();
    if (QFileInfo::exists(name))
        return;
    QDir().mkpath(QFileInfo(name).path());
    const int fd =
        ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

void Preferences::protectFile() const
{
    const QString name = m_settings->fileName();
    if (QFileInfo::exists(name))
        QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void Preferences::sync()
{
    m_settings->sync();
    QFile::setPermissions(m_settings->fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString Preferences::rawText(QAnyStringView key) const
{
    QFile file(m_settings->fileName());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString wanted = key.toString();
    bool inGeneral = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inGeneral = line == u"[General]";
            continue;
        }
        if (!inGeneral)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && line.left(equals).trimmed() == wanted)
            return line.mid(equals + 1).trimmed();
    }
    return QString();
}
