#include "print/ReportFile.h"

#include <QDir>
#include <QSaveFile>

QString reportPathIn(const QString &programFolder)
{
    return programFolder + QDir::separator() + QStringLiteral("printEvent.html");
}

void writeReportFile(const QString &path, const QByteArray &bytes)
{
    const QString shown = QDir::toNativeSeparators(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ReportFileError(QStringLiteral("Cannot create the report file '%1': %2").arg(shown, file.errorString()));
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw ReportFileError(QStringLiteral("Cannot write the report file '%1': %2").arg(shown, reason));
    }
    if (!file.commit())
        throw ReportFileError(QStringLiteral("Cannot write the report file '%1': %2").arg(shown, file.errorString()));
}
