#pragma once

#include <QMap>
#include <QObject>
#include <QString>

// Counts the paint events that every widget class receives while installed on the application:
// shows which parts of the window are drawn again during a flood besides the console.
class PaintCounter : public QObject
{
    Q_OBJECT
public:
    void start();
    void stop();
    // "ClassName:count" entries, most painted first.
    QString summary() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMap<QString, int> m_counts;
};
