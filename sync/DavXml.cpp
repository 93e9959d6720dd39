#include "sync/DavXml.h"

#include "sync/DavError.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <functional>
#include <vector>

namespace caldav {
namespace {

// Deeper than any WebDAV answer; keeps a hostile one from exhausting the stack.
constexpr int kDeepest = 64;

DavError badXml(const QString &reason)
{
    return DavError(Fault::BadAnswer, reason);
}

QByteArray written(const std::function<void(QXmlStreamWriter &)> &body)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeNamespace(kDav, QStringLiteral("D"));
    w.writeNamespace(kCalDav, QStringLiteral("C"));
    w.writeNamespace(kCalendarServer, QStringLiteral("CS"));
    body(w);
    w.writeEndDocument();
    return out;
}

} // namespace

const XmlElement *XmlElement::child(const QString &nsUri, const QString &local) const
{
    for (const XmlElement &c : children)
        if (c.is(nsUri, local))
            return &c;
    return nullptr;
}

QList<const XmlElement *> XmlElement::childrenNamed(const QString &nsUri, const QString &local) const
{
    QList<const XmlElement *> out;
    for (const XmlElement &c : children)
        if (c.is(nsUri, local))
            out << &c;
    return out;
}

QString XmlElement::attribute(const QString &local) const
{
    for (const auto &[name, value] : attributes)
        if (name == local)
            return value;
    return {};
}

XmlElement parseXml(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    XmlElement root;
    bool haveRoot = false;
    std::vector<XmlElement *> open;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            throw badXml(QStringLiteral("line %1: a WebDAV answer has no document type declaration")
                             .arg(reader.lineNumber()));
        case QXmlStreamReader::StartElement: {
            if (open.size() >= size_t(kDeepest))
                throw badXml(QStringLiteral("line %1: elements nested deeper than %2").arg(reader.lineNumber()).arg(kDeepest));
            XmlElement *e = nullptr;
            if (open.empty()) {
                e = &root;
                haveRoot = true;
            } else {
                open.back()->children.append(XmlElement());
                e = &open.back()->children.last();
            }
            e->ns = reader.namespaceUri().toString();
            e->name = reader.name().toString();
            for (const QXmlStreamAttribute &a : reader.attributes())
                e->attributes.append({a.name().toString(), a.value().toString()});
            open.push_back(e);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty())
                open.back()->text += reader.text();
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        throw badXml(QStringLiteral("line %1, column %2: %3")
                         .arg(reader.lineNumber())
                         .arg(reader.columnNumber())
                         .arg(reader.errorString()));
    if (!haveRoot)
        throw badXml(QStringLiteral("the answer holds no XML element"));
    return root;
}

int parseStatusLine(const QString &line)
{
    // ASCII digits only (\d takes any script's), and no code below 100.
    static const QRegularExpression status(QStringLiteral("^\\s*HTTP/[0-9](?:\\.[0-9])?\\s+([1-9][0-9]{2})(?:\\s.*)?$"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = status.match(line);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

const XmlElement *DavResponse::prop(const QString &nsUri, const QString &local) const
{
    for (const XmlElement &p : props)
        if (p.is(nsUri, local))
            return &p;
    return nullptr;
}

QString DavResponse::propText(const QString &nsUri, const QString &local) const
{
    const XmlElement *p = prop(nsUri, local);
    return p ? p->text.trimmed() : QString();
}

Multistatus parseMultistatus(const QByteArray &xml)
{
    const XmlElement root = parseXml(xml);
    if (!root.is(kDav, QStringLiteral("multistatus")))
        throw badXml(QStringLiteral("the answer is no WebDAV multistatus but <%1>").arg(root.name));
    Multistatus out;
    if (const XmlElement *token = root.child(kDav, QStringLiteral("sync-token")))
        out.syncToken = token->text.trimmed();
    for (const XmlElement *r : root.childrenNamed(kDav, QStringLiteral("response"))) {
        DavResponse response;
        const XmlElement *href = r->child(kDav, QStringLiteral("href"));
        if (!href || href->text.trimmed().isEmpty())
            throw badXml(QStringLiteral("a response names no resource (no href)"));
        response.href = href->text.trimmed();
        if (const XmlElement *status = r->child(kDav, QStringLiteral("status"))) {
            response.status = parseStatusLine(status->text);
            if (response.status < 0)
                throw badXml(QStringLiteral("'%1' is no HTTP status line").arg(status->text.trimmed()));
        }
        for (const XmlElement *propstat : r->childrenNamed(kDav, QStringLiteral("propstat"))) {
            const XmlElement *status = propstat->child(kDav, QStringLiteral("status"));
            const int code = status ? parseStatusLine(status->text) : -1;
            if (code < 0)
                throw badXml(QStringLiteral("the properties of %1 come without a status").arg(response.href));
            const XmlElement *prop = propstat->child(kDav, QStringLiteral("prop"));
            if (code / 100 == 2 && prop)
                response.props += prop->children;
        }
        out.responses.append(response);
    }
    return out;
}

QByteArray propfindBody(const QList<QPair<QString, QString>> &properties)
{
    return written([&](QXmlStreamWriter &w) {
        w.writeStartElement(kDav, QStringLiteral("propfind"));
        w.writeStartElement(kDav, QStringLiteral("prop"));
        for (const auto &[ns, name] : properties)
            w.writeEmptyElement(ns, name);
        w.writeEndElement();
        w.writeEndElement();
    });
}

QByteArray mkcalendarBody(const QString &displayName)
{
    return written([&](QXmlStreamWriter &w) {
        w.writeStartElement(kCalDav, QStringLiteral("mkcalendar"));
        w.writeStartElement(kDav, QStringLiteral("set"));
        w.writeStartElement(kDav, QStringLiteral("prop"));
        w.writeTextElement(kDav, QStringLiteral("displayname"), displayName);
        w.writeStartElement(kCalDav, QStringLiteral("supported-calendar-component-set"));
        w.writeEmptyElement(kCalDav, QStringLiteral("comp"));
        w.writeAttribute(QStringLiteral("name"), QStringLiteral("VEVENT"));
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
    });
}

QByteArray syncCollectionBody(const QString &syncToken)
{
    return written([&](QXmlStreamWriter &w) {
        w.writeStartElement(kDav, QStringLiteral("sync-collection"));
        w.writeTextElement(kDav, QStringLiteral("sync-token"), syncToken);
        w.writeTextElement(kDav, QStringLiteral("sync-level"), QStringLiteral("1"));
        w.writeStartElement(kDav, QStringLiteral("prop"));
        w.writeEmptyElement(kDav, QStringLiteral("getetag"));
        w.writeEndElement();
        w.writeEndElement();
    });
}

QByteArray multigetBody(const QStringList &hrefs)
{
    return written([&](QXmlStreamWriter &w) {
        w.writeStartElement(kCalDav, QStringLiteral("calendar-multiget"));
        w.writeStartElement(kDav, QStringLiteral("prop"));
        w.writeEmptyElement(kDav, QStringLiteral("getetag"));
        w.writeEmptyElement(kCalDav, QStringLiteral("calendar-data"));
        w.writeEndElement();
        for (const QString &href : hrefs)
            w.writeTextElement(kDav, QStringLiteral("href"), href);
        w.writeEndElement();
    });
}

} // namespace caldav
