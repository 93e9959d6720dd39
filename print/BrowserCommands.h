#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <stdexcept>

class QWidget;

// Command identifiers, options and status bits of the HTML view's command
// interface, under their published names.
enum : int {
    OLECMDID_PRINT = 6,
    OLECMDID_PRINTPREVIEW = 7,
    OLECMDID_PAGESETUP = 8,
};
enum : int {
    OLECMDEXECOPT_PROMPTUSER = 1,
    OLECMDEXECOPT_DONTPROMPTUSER = 2,
};
inline constexpr quint32 OLECMDF_ENABLED = 2;

// A failed browser operation; the print window shows or compares the description.
class BrowserError : public std::runtime_error
{
public:
    explicit BrowserError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description) {}

    [[nodiscard]] QString description() const { return m_description; }

private:
    QString m_description;
};

// The operations the print window needs of its HTML view. Every operation may
// throw BrowserError.
class BrowserCommands
{
public:
    virtual ~BrowserCommands() = default;

    // Displays the local file at `path`.
    virtual void navigate(const QString &path) = 0;
    // Status bits of the command; OLECMDF_ENABLED when it can run now.
    virtual quint32 queryStatus(int cmd) = 0;
    virtual void exec(int cmd, int option) = 0;
    virtual void exec(int cmd, int option, const QString &in, QString &out) = 0;
    // Prints across the paper from now on.
    virtual void setLandscape() = 0;
    // The view itself, a child of the widget it was created for.
    virtual QWidget *widget() = 0;
};

class BrowserFactory
{
public:
    virtual ~BrowserFactory() = default;
    virtual std::unique_ptr<BrowserCommands> create(QWidget *parent) = 0;
};
