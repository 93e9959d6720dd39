#include "print/ReportFile.h"

#include <QDir>
#include <QSaveFile>

QString reportPathIn(const QString &programFolder)
{
    return programFolder + QDir::separator() + QStringLiteral("printEvent.html");
}

void writeReportFile(const QString &path, const QByteArray &bytes, const QString &kind)
{
    const QString shown = QDir::toNativeSeparators(path);
    QSaveFile file(path);
    // Unbuffered, so that every write reaches the system and its failure is
    // seen here: a buffered save file can report a commit as successful after
    // its writes failed on a full disk, and the rename then puts a cut-short
    // file in place of the previous report.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw ReportFileError(QStringLiteral("Cannot create the %1 '%2': %3").arg(kind, shown, file.errorString()));
    qint64 done = 0;
    while (done < bytes.size()) {
        // A write may land in part; the next one then reports why it stopped.
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            throw ReportFileError(QStringLiteral("Cannot write the %1 '%2': %3").arg(kind, shown, reason));
        }
        done += written;
    }
    if (!file.commit())
        throw ReportFileError(QStringLiteral("Cannot write the %1 '%2': %3").arg(kind, shown, file.errorString()));
}
