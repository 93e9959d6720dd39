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

// printEvent.html in the given folder.
[[nodiscard]] QString reportPathIn(const QString &programFolder);

// Replaces the file whole: a failed write leaves the previous file as it was.
void writeReportFile(const QString &path, const QByteArray &bytes);
