#include "DrmDisplayModes.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

// sysfs attribute files are a few bytes; a cap keeps a broken or hostile tree from making us
// read without end.
constexpr qint64 MaxAttributeBytes = 1 << 20;

std::optional<QByteArray> readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(MaxAttributeBytes);
}

bool attributeIs(const QString &path, const char *expected)
{
    const std::optional<QByteArray> value = readAttribute(path);
    return value && value->trimmed() == expected;
}

int positiveInt(QStringView digits)
{
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok);
    if (!ok || value <= 0 || value > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(value);
}

} // namespace

DrmDisplayModes::DrmDisplayModes(QString sysfsRoot) : m_root(std::move(sysfsRoot)) {}

QList<ModeDescription> DrmDisplayModes::parseModes(const QByteArray &text)
{
    static const QRegularExpression line(QStringLiteral("^([0-9]+)x([0-9]+)([^0-9\\s]\\S*)?$"));
    QList<ModeDescription> modes;
    for (const QByteArray &raw : text.split('\n')) {
        const QString trimmed = QString::fromLatin1(raw.trimmed());
        const QRegularExpressionMatch match = line.match(trimmed);
        if (!match.hasMatch())
            continue;
        const int width = positiveInt(match.capturedView(1));
        const int height = positiveInt(match.capturedView(2));
        if (width == 0 || height == 0)
            continue;
        ModeDescription mode{{QStringLiteral("Width"), width}, {QStringLiteral("Height"), height}};
        if (match.capturedView(3) == QLatin1String("i"))
            mode.insert(QStringLiteral("Interlaced"), true);
        modes.append(mode);
    }
    return modes;
}

bool DrmDisplayModes::connectorLess(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Compare digit runs by value without converting, so any length works: strip
            // leading zeros, then the longer run is larger, then digit by digit.
            QStringView ra = QStringView(a).mid(i, ei - i);
            QStringView rb = QStringView(b).mid(j, ej - j);
            while (ra.size() > 1 && ra.front() == u'0')
                ra = ra.mid(1);
            while (rb.size() > 1 && rb.front() == u'0')
                rb = rb.mid(1);
            if (ra.size() != rb.size())
                return ra.size() < rb.size();
            const int byDigits = ra.compare(rb);
            if (byDigits != 0)
                return byDigits < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

QStringList DrmDisplayModes::activeConnectors(const QString &sysfsRoot)
{
    static const QRegularExpression connectorName(QStringLiteral("^card[0-9]+-.+$"));
    const QDir root(sysfsRoot);
    QStringList active;
    const QStringList entries = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &name : entries) {
        if (!connectorName.match(name).hasMatch())
            continue;
        const QString dir = root.filePath(name);
        if (attributeIs(dir + QStringLiteral("/status"), "connected") &&
            attributeIs(dir + QStringLiteral("/enabled"), "enabled"))
            active.append(name);
    }
    std::sort(active.begin(), active.end(), &DrmDisplayModes::connectorLess);
    return active;
}

DisplayId DrmDisplayModes::idFor(const QString &connector) const
{
    qsizetype index = m_known.indexOf(connector);
    if (index < 0) {
        m_known.append(connector);
        index = m_known.size() - 1;
    }
    return static_cast<DisplayId>(index + 1);
}

bool DrmDisplayModes::activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const
{
    displays.clear();
    if (!QDir(m_root).exists())
        return false;
    const QStringList active = activeConnectors(m_root);
    for (const QString &connector : active) {
        if (displays.size() >= capacity)
            break;
        displays.push_back(idFor(connector));
    }
    return true;
}

std::optional<QList<ModeDescription>> DrmDisplayModes::availableModes(DisplayId display) const
{
    if (display == 0 || display > static_cast<quint64>(m_known.size()))
        return std::nullopt;
    const QString dir = QDir(m_root).filePath(m_known.at(display - 1));
    const std::optional<QByteArray> text = readAttribute(dir + QStringLiteral("/modes"));
    if (!text)
        return std::nullopt;
    return parseModes(*text);
}
