#pragma once

#include <QString>
#include <stdexcept>

namespace store {

// Every store failure carries the text a user is shown after the fixed first
// line of a message ("An error occured while ...").
class StoreError : public std::runtime_error
{
public:
    explicit StoreError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description) {}

    [[nodiscard]] QString description() const { return m_description; }

private:
    QString m_description;
};

} // namespace store
