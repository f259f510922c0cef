#include "DummyXServer.h"

#include "ProcessTestSupport.h"

#include <QDir>
#include <QStandardPaths>

namespace {

constexpr int StartTimeoutMs = 60000;
constexpr int StopTimeoutMs = 10000;

} // namespace

DummyXServer::DummyXServer() = default;

DummyXServer::~DummyXServer()
{
    stop();
}

QString DummyXServer::configPath()
{
    return QStringLiteral(VELMORA_DUMMY_XORG_CONF);
}

bool DummyXServer::start(QString *whyNot)
{
    const QString xorg = QStandardPaths::findExecutable(QStringLiteral("Xorg"));
    if (xorg.isEmpty()) {
        *whyNot = QStringLiteral("Xorg is not installed (packages xserver-xorg-core, "
                                 "xserver-xorg-video-dummy)");
        return false;
    }
    if (!m_workDir.isValid()) {
        *whyNot = QStringLiteral("no temporary folder for the server's log");
        return false;
    }
    const QString configDir = m_workDir.filePath(QStringLiteral("xorg.conf.d"));
    QDir().mkpath(configDir);

    // The server writes its display number to its standard output once it accepts connections;
    // what it says on its standard error also stands in its log file.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(
        xorg, {QStringLiteral("-config"), configPath(), QStringLiteral("-configdir"), configDir,
               QStringLiteral("-logfile"), m_workDir.filePath(QStringLiteral("Xorg.log")),
               QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-novtswitch"),
               QStringLiteral("-sharevts")});
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        *whyNot = QStringLiteral("Xorg did not start: ") + m_process.errorString();
        return false;
    }
    const QByteArray number = ProcessTestSupport::readFirstLine(m_process, StartTimeoutMs);
    if (number.isEmpty()) {
        *whyNot = QStringLiteral("Xorg did not come up:\n") +
                  ProcessTestSupport::logTail(m_workDir.filePath(QStringLiteral("Xorg.log")));
        stop();
        return false;
    }
    m_displayName = ':' + number;
    return true;
}

void DummyXServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(StopTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(StopTimeoutMs);
        }
    }
    m_displayName.clear();
}

bool DummyXServer::runXrandr(const QStringList &args, QByteArray *output, QString *whyNot) const
{
    return ProcessTestSupport::runTool(
        QStringLiteral("xrandr"),
        QStringList{QStringLiteral("-display"), QString::fromLatin1(m_displayName)} + args,
        QProcessEnvironment::systemEnvironment(), output, whyNot);
}

bool DummyXServer::enableSecondOutput(QString *whyNot)
{
    // DUMMY1 starts without modes of its own; it takes modes the server already knows.
    return runXrandr(
               {QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("1024x768")},
               nullptr, whyNot) &&
           runXrandr(
               {QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("800x600")},
               nullptr, whyNot) &&
           runXrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"),
                      QStringLiteral("--mode"), QStringLiteral("1024x768"),
                      QStringLiteral("--right-of"), QStringLiteral("DUMMY0")},
                     nullptr, whyNot);
}
