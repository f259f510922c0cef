#include "DisplayModesProbe.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

constexpr int ProbeTimeoutMs = 60000;

// The back end's name, then "1: 1920x1080 1280x720" lines.
std::optional<DisplayModesProbe> parse(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    if (lines.isEmpty() || lines.first().isEmpty())
        return std::nullopt;
    DisplayModesProbe probe{QString::fromLatin1(lines.first()), {}};
    static const QRegularExpression size(QStringLiteral("(\\d+)x(\\d+)"));
    for (const QByteArray &line : lines.mid(1)) {
        QList<QSize> sizes;
        for (auto it = size.globalMatch(QString::fromLatin1(line.mid(line.indexOf(':'))));
             it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            sizes.append(QSize(m.captured(1).toInt(), m.captured(2).toInt()));
        }
        probe.displays.append(sizes);
    }
    return probe;
}

} // namespace

std::optional<DisplayModesProbe> DisplayModesProbe::run(QProcessEnvironment env,
                                                        const QStringList &args, QString *whyNot)
{
    const QString program = qEnvironmentVariable("VELMORA_DISPLAYMODES_PROBE");
    if (program.isEmpty()) {
        *whyNot = QStringLiteral("VELMORA_DISPLAYMODES_PROBE is not set");
        return std::nullopt;
    }
    // Full stacks under LeakSanitizer: leaks inside system libraries without frame pointers are
    // then told apart by who called them (Qt's Wayland plugin leaks at exit, our sources must not).
    if (env.contains(QStringLiteral("LSAN_OPTIONS")))
        env.insert(QStringLiteral("LSAN_OPTIONS"), env.value(QStringLiteral("LSAN_OPTIONS")) +
                                                       QStringLiteral(":fast_unwind_on_malloc=0"));
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(program, args);
    if (!probe.waitForFinished(ProbeTimeoutMs)) {
        probe.kill();
        probe.waitForFinished();
        *whyNot = QStringLiteral("the probe did not finish");
        return std::nullopt;
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        *whyNot = QStringLiteral("the probe failed: ") +
                  QString::fromLocal8Bit(probe.readAllStandardError());
        return std::nullopt;
    }
    std::optional<DisplayModesProbe> result = parse(probe.readAllStandardOutput());
    if (!result)
        *whyNot = QStringLiteral("the probe printed nothing");
    return result;
}

QString DisplayModesProbe::describe(const QList<QList<QSize>> &displays)
{
    QStringList parts;
    for (const QList<QSize> &sizes : displays) {
        QStringList modes;
        for (const QSize &s : sizes)
            modes << QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
        parts << modes.join(QLatin1Char(' '));
    }
    return parts.isEmpty() ? QStringLiteral("(none)") : parts.join(QStringLiteral(" | "));
}
