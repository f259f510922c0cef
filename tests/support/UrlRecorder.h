#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's file viewer: receives the URLs that Help asks it to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void openUrl(const QUrl &url) { urls << url; }
};
