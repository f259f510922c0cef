#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real Xorg server with the dummy video driver, for tests that need XRandR with several
// modes and several outputs. The server picks a free display number itself (-displayfd), so
// parallel test runs do not collide. Needs root (or an Xorg wrapper that lets the caller start
// a server) and the xserver-xorg-core and xserver-xorg-video-dummy packages.
//
// Call order: start(), then any of displayName() / runXrandr() / enableSecondOutput(); stop()
// or the destructor ends the server and waits for it, so nothing outlives the object.
class DummyXServer
{
public:
    DummyXServer();
    ~DummyXServer();

    DummyXServer(const DummyXServer &) = delete;
    DummyXServer &operator=(const DummyXServer &) = delete;

    // Starts Xorg and waits until it accepts connections. On failure returns false and says why
    // in `whyNot` (with the end of the server's log when it got that far).
    bool start(QString *whyNot);
    void stop();

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // ":N" while running.
    QByteArray displayName() const { return m_displayName; }

    // Runs `xrandr -display :N <args>`; returns its standard output, or false with the reason.
    bool runXrandr(const QStringList &args, QByteArray *output, QString *whyNot) const;

    // Turns on DUMMY1 beside DUMMY0 with a 1024x768 and an 800x600 mode, so the server has two
    // active outputs.
    bool enableSecondOutput(QString *whyNot);

    // The configuration file the server runs with.
    static QString configPath();

private:
    QTemporaryDir m_workDir;
    QProcess m_process;
    QByteArray m_displayName;
};
