#pragma once

// A real sshd on a free loopback port, throwaway keys, and a private ssh configuration of three
// hosts: the good one, one known by another host key, one that offers a key sshd refuses.

#include <QProcess>
#include <QTemporaryDir>

class SshTestServer
{
public:
    static constexpr char Good[] = "velmora-test";
    static constexpr char WrongHostKey[] = "velmora-wrong-host-key";
    static constexpr char RefusedKey[] = "velmora-refused-key";

    SshTestServer() { m_problem = start(); }
    ~SshTestServer() { m_sshd.terminate(), m_sshd.waitForFinished(); }
    // Empty when it runs; else why it cannot, for a skip.
    QString problem() const { return m_problem; }
    QStringList sshCommand() const { return {"ssh", "-F", m_dir.filePath("ssh_config")}; }

private:
    QString start();

    QTemporaryDir m_dir;
    QProcess m_sshd;
    QString m_problem;
};
