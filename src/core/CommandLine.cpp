#include "CommandLine.h"

ResolutionPieces splitResolutionTitle(const QString &title)
{
    const QStringList pieces = title.split(QStringLiteral(" x "));
    ResolutionPieces result;
    result.width = pieces.value(0);
    result.height = pieces.value(1);
    return result;
}

QStringList gameArguments(const QString &resolutionTitle, const GameSettings &settings)
{
    const ResolutionPieces res = splitResolutionTitle(resolutionTitle);
    QStringList args;
    args << QStringLiteral("-w") + res.width << QStringLiteral("-h") + res.height
         << QStringLiteral("-z32");
    if (settings.fullscreen == 0)
        args << QStringLiteral("-t");
    args << QStringLiteral("-a%1").arg(settings.fsaa)
         << QStringLiteral("-f%1").arg(settings.shader);
    if (!settings.advancedOptions.isEmpty())
        args << settings.advancedOptions.split(u' ', Qt::KeepEmptyParts);
    return args;
}

QList<QByteArray> serverArguments(const QByteArray &executablePath, const ServerSettings &settings)
{
    QList<QByteArray> argv;
    argv << executablePath << QByteArrayLiteral("-d");
    const QStringList options = settings.options.split(u' ', Qt::SkipEmptyParts);
    for (const QString &piece : options)
        argv << piece.toUtf8();
    if (!settings.description.isEmpty())
        argv << QByteArrayLiteral("-n") + settings.description.toUtf8();
    if (!settings.password.isEmpty())
        argv << QByteArrayLiteral("-p") + settings.password.toUtf8();
    if (settings.maxClients > 0)
        argv << QByteArrayLiteral("-c") + QByteArray::number(settings.maxClients);
    return argv;
}
