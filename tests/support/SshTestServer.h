#pragma once

// A real sshd on a free port of the loopback interface, for the tests of the window's remote
// host: throwaway host and user keys, and a private ssh configuration with three hosts (the
// good one, one whose known host key is another, one that offers a key sshd does not accept).

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class SshTestServer
{
public:
    static constexpr char Good[] = "velmora-test";
    static constexpr char WrongHostKey[] = "velmora-wrong-host-key";
    static constexpr char RefusedKey[] = "velmora-refused-key";

    SshTestServer();
    ~SshTestServer();

    // Empty when it runs; else why it cannot, for a skip.
    QString problem() const { return m_problem; }
    // The ssh command that reads the private configuration: {"ssh", "-F", file}.
    QStringList sshCommand() const;

private:
    QString start();
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QProcess m_sshd;
    QString m_problem;
};
