#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The XML of WebDAV (RFC 4918) and CalDAV (RFC 4791) answers, read with
// QXmlStreamReader into a small tree, and the request bodies, written with
// QXmlStreamWriter. A reading failure throws DavError (Fault::BadAnswer).
namespace caldav {

inline const QString kDav = QStringLiteral("DAV:");
inline const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
inline const QString kCalendarServer = QStringLiteral("http://calendarserver.org/ns/");

struct XmlElement
{
    QString ns;
    QString name;
    QString text; // the element's own character data
    QList<QPair<QString, QString>> attributes;
    QList<XmlElement> children;

    [[nodiscard]] bool is(const QString &nsUri, const QString &local) const { return ns == nsUri && name == local; }
    [[nodiscard]] const XmlElement *child(const QString &nsUri, const QString &local) const;
    [[nodiscard]] QList<const XmlElement *> childrenNamed(const QString &nsUri, const QString &local) const;
    [[nodiscard]] QString attribute(const QString &local) const;
};

// The document's root element. Throws DavError(BadAnswer) with line, column
// and reason for anything that is not well-formed XML.
[[nodiscard]] XmlElement parseXml(const QByteArray &xml);

// One DAV:response of a multistatus, with the properties the server found.
struct DavResponse
{
    QString href;            // as the server wrote it
    int status = 0;          // of the response itself (a member gone, in a sync report); 0 when it has properties
    QList<XmlElement> props; // the children of every DAV:prop whose propstat says 2xx

    [[nodiscard]] const XmlElement *prop(const QString &nsUri, const QString &local) const;
    [[nodiscard]] QString propText(const QString &nsUri, const QString &local) const;
};

struct Multistatus
{
    QList<DavResponse> responses;
    QString syncToken; // the report's new token (RFC 6578), empty for other reports
};

// Throws DavError(BadAnswer) for bad XML, another root than DAV:multistatus,
// a response without href or a status line that is none.
[[nodiscard]] Multistatus parseMultistatus(const QByteArray &xml);

// "HTTP/1.1 404 Not Found" -> 404; -1 for no status line.
[[nodiscard]] int parseStatusLine(const QString &line);

// Request bodies.
[[nodiscard]] QByteArray propfindBody(const QList<QPair<QString, QString>> &properties);
[[nodiscard]] QByteArray mkcalendarBody(const QString &displayName);
[[nodiscard]] QByteArray syncCollectionBody(const QString &syncToken);
[[nodiscard]] QByteArray multigetBody(const QStringList &hrefs);

} // namespace caldav
