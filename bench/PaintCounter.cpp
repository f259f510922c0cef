#include "PaintCounter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

void PaintCounter::start()
{
    QCoreApplication::instance()->installEventFilter(this);
}

void PaintCounter::stop()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool PaintCounter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && watched->isWidgetType()) {
        const QString name = watched->objectName();
        ++m_counts[QString::fromLatin1(watched->metaObject()->className()) +
                   (name.isEmpty() ? QString() : u'(' + name + u')')];
    }
    return QObject::eventFilter(watched, event);
}

QString PaintCounter::summary() const
{
    std::vector<std::pair<QString, int>> entries(m_counts.constKeyValueBegin(),
                                                 m_counts.constKeyValueEnd());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto &a, const auto &b) { return a.second > b.second; });
    QStringList parts;
    for (const auto &[name, count] : entries)
        parts << name + u':' + QString::number(count);
    return parts.join(u' ');
}
