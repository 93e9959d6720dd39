#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// The report file could not be written; the description carries the system's reason.
class ReportFileError : public std::runtime_error
{
public:
    explicit ReportFileError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description) {}

    [[nodiscard]] QString description() const { return m_description; }

private:
    QString m_description;
};

// The first line of the message when a report file could not be written.
inline const QString kReportWriteFailure = QStringLiteral("An error occured while writing the report.");

// printEvent.html in the given folder.
[[nodiscard]] QString reportPathIn(const QString &programFolder);

// Replaces the file whole: a failed write leaves the previous file as it was.
// `kind` names the file in the failure's description.
void writeReportFile(const QString &path, const QByteArray &bytes, const QString &kind = QStringLiteral("report file"));
