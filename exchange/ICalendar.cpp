#include "exchange/ICalendar.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

#include <libical/ical.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace exchange {
namespace {

void initLibical()
{
    static const bool done = [] {
        // Report failures as values, never abort; name built-in zones by
        // their plain IANA names, which other calendars know.
        icalerror_set_errors_are_fatal(0);
        icaltimezone_set_tzid_prefix("");
        return true;
    }();
    (void)done;
}

struct ComponentFree
{
    void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// The calendar keeps CR LF; iCalendar text values keep LF (libical escapes it).
QString toIcalLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString toStoredLines(QString text)
{
    text = toIcalLines(text);
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

icaltimezone *knownZone(const QByteArray &zoneId)
{
    if (zoneId.isEmpty())
        return nullptr;
    for (const QByteArray &name : {zoneId, QByteArray("Etc/") + zoneId}) {
        icaltimezone *zone = icaltimezone_get_builtin_timezone(name.constData());
        if (zone && icaltimezone_get_component(zone))
            return zone;
    }
    return nullptr;
}

icaltimetype icalTime(const QDateTime &wall, icaltimezone *zone)
{
    const QDateTime value = zone ? wall : QDateTime(wall.date(), wall.time(), Qt::LocalTime).toUTC();
    icaltimetype t = icaltime_null_time();
    t.year = value.date().year();
    t.month = value.date().month();
    t.day = value.date().day();
    t.hour = value.time().hour();
    t.minute = value.time().minute();
    t.second = 0;
    t.is_date = 0;
    t.zone = zone ? zone : icaltimezone_get_utc_timezone();
    return t;
}

icalproperty *withZone(icalproperty *prop, const QByteArray &tzid)
{
    if (!tzid.isEmpty())
        icalproperty_add_parameter(prop, icalparameter_new_tzid(tzid.constData()));
    return prop;
}

QByteArray serialized(icalcomponent *component)
{
    char *text = icalcomponent_as_ical_string_r(component);
    QByteArray out(text);
    std::free(text);
    return out;
}

} // namespace

QString descriptionText(const QString &description, const QString &notes)
{
    if (notes.isEmpty())
        return description;
    if (description.isEmpty())
        return notes;
    return description + QStringLiteral("\r\n\r\n") + notes;
}

QByteArray writeCalendar(const QList<CalendarEvent> &events, const QByteArray &zoneId)
{
    initLibical();
    icaltimezone *zone = knownZone(zoneId);
    ComponentPtr cal(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(cal.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(cal.get(), icalproperty_new_prodid("-//Orvenna//Orvenna calendar//EN"));
    icalcomponent_add_property(cal.get(), icalproperty_new_calscale("GREGORIAN"));
    // libical names zones read from the system with a prefix of its own;
    // other calendars know the plain IANA name.
    QByteArray tzid;
    if (zone) {
        tzid = icaltimezone_get_location(zone);
        icalcomponent *vtimezone = icalcomponent_new_clone(icaltimezone_get_component(zone));
        if (icalproperty *p = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY))
            icalproperty_set_tzid(p, tzid.constData());
        icalcomponent_add_component(cal.get(), vtimezone);
    }
    const icaltimetype stamp = icaltime_from_timet_with_zone(std::time(nullptr), 0, icaltimezone_get_utc_timezone());

    // libical writes the calendar around a marker event, and each event on its
    // own, freed at once: one tree of 100,000 events costs several times more.
    const QByteArray marker = "orvenna-events-go-here";
    icalcomponent *placeholder = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_property(placeholder, icalproperty_new_uid(marker.constData()));
    icalcomponent_add_component(cal.get(), placeholder);
    const QByteArray frame = serialized(cal.get());
    const QByteArray placeholderText = serialized(placeholder);
    const qsizetype at = frame.indexOf(placeholderText);
    QByteArray out;
    out.reserve(frame.size() + events.size() * 600);
    out += frame.left(at);

    for (const CalendarEvent &e : events) {
        icalcomponent *ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
        icalcomponent_add_property(ev, icalproperty_new_uid(utf8(e.uid).constData()));
        icalcomponent_add_property(ev, icalproperty_new_dtstamp(stamp));
        icalcomponent_add_property(ev, withZone(icalproperty_new_dtstart(icalTime(e.start, zone)), tzid));
        icalcomponent_add_property(ev, withZone(icalproperty_new_dtend(icalTime(e.end, zone)), tzid));
        icalcomponent_add_property(ev, icalproperty_new_summary(utf8(e.title).constData()));
        const QString description = toIcalLines(descriptionText(e.description, e.notes));
        if (!description.isEmpty())
            icalcomponent_add_property(ev, icalproperty_new_description(utf8(description).constData()));
        if (!e.staffName.isEmpty())
            icalcomponent_add_property(ev, icalproperty_new_contact(utf8(e.staffName).constData()));
        out += serialized(ev);
        icalcomponent_free(ev);
    }
    out += frame.mid(at + placeholderText.size());
    return out;
}

namespace {

struct Line
{
    int number; // of its first physical line
    QByteArray text;
};

// Physical lines joined where folded, each with the line it starts on.
QList<Line> logicalLines(const QByteArray &text)
{
    QList<Line> lines;
    int number = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        QByteArray physical = text.mid(pos, end - pos);
        if (physical.endsWith('\r'))
            physical.chop(1);
        ++number;
        pos = end + 1;
        if (!physical.isEmpty() && (physical[0] == ' ' || physical[0] == '\t') && !lines.isEmpty())
            lines.last().text += physical.mid(1);
        else if (!physical.isEmpty())
            lines.append({number, physical});
    }
    return lines;
}

QString shown(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line);
    return text.size() > 60 ? text.left(57) + QStringLiteral("...") : text;
}

QByteArray nameOf(const QByteArray &line)
{
    qsizetype end = line.size();
    for (char stop : {':', ';'}) {
        const qsizetype at = line.indexOf(stop);
        if (at >= 0 && at < end)
            end = at;
    }
    return line.left(end).trimmed().toUpper();
}

// Where a VEVENT and its properties begin.
struct EventLines
{
    int begin = 1;
    QHash<QByteArray, int> properties; // first line of each name
};

// BEGIN/END must pair up inside one VCALENDAR, every line needs a colon.
// Returns where each VEVENT is, in file order.
QList<EventLines> checkStructure(const QList<Line> &lines)
{
    if (lines.isEmpty())
        throw CalendarFileError(1, QStringLiteral("The file is empty."));
    if (lines.first().text.trimmed().toUpper() != "BEGIN:VCALENDAR")
        throw CalendarFileError(lines.first().number, QStringLiteral("An iCalendar file begins with BEGIN:VCALENDAR."));
    QList<QByteArray> open;
    QList<EventLines> events;
    for (const Line &line : lines) {
        const qsizetype colon = line.text.indexOf(':');
        if (colon < 0)
            throw CalendarFileError(line.number, QStringLiteral("A line without ':': %1").arg(shown(line.text)));
        const QByteArray name = nameOf(line.text);
        const QByteArray value = line.text.mid(colon + 1).trimmed().toUpper();
        if (open.isEmpty() && !(name == "BEGIN" && value == "VCALENDAR"))
            throw CalendarFileError(line.number, QStringLiteral("Text outside BEGIN:VCALENDAR ... END:VCALENDAR."));
        if (name == "BEGIN") {
            if (value == "VEVENT") {
                if (open.size() != 1)
                    throw CalendarFileError(line.number, QStringLiteral("A VEVENT inside %1.").arg(QString::fromUtf8(open.last())));
                events.append(EventLines{line.number, {}});
            }
            open.append(value);
        } else if (name == "END") {
            if (open.last() != value)
                throw CalendarFileError(line.number, QStringLiteral("END:%1 where END:%2 was expected.")
                                                         .arg(QString::fromUtf8(value), QString::fromUtf8(open.last())));
            open.removeLast();
        } else if (open.size() == 2 && open.last() == "VEVENT" && !events.last().properties.contains(name)) {
            events.last().properties.insert(name, line.number);
        }
    }
    if (!open.isEmpty())
        throw CalendarFileError(lines.last().number, QStringLiteral("The file ends before END:%1.").arg(QString::fromUtf8(open.last())));
    return events;
}

// Properties newer than libical are allowed by the format (iana-prop);
// libical marks them as errors all the same.
bool isUnknownName(const QByteArray &name)
{
    return !name.startsWith("X-") && icalproperty_string_to_kind(name.constData()) == ICAL_NO_PROPERTY;
}

bool isUnknownNameError(const QString &text)
{
    return text.startsWith(QLatin1String("Parse error in property name"));
}

QString firstError(icalcomponent *comp)
{
    for (icalproperty *p = icalcomponent_get_first_property(comp, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(comp, ICAL_XLICERROR_PROPERTY)) {
        const QString text = QString::fromUtf8(icalproperty_get_xlicerror(p));
        if (!isUnknownNameError(text))
            return text;
    }
    for (icalcomponent *c = icalcomponent_get_first_component(comp, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(comp, ICAL_ANY_COMPONENT)) {
        const QString text = firstError(c);
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

// libical read the file but marked errors in it; find the first line it
// cannot read on its own, else the entry holding the error.
void refuseErrors(const QList<Line> &lines, const QList<icalcomponent *> &events, const QList<EventLines> &eventLines,
                  icalcomponent *root)
{
    for (const Line &line : lines) {
        const QByteArray name = nameOf(line.text);
        if (name == "BEGIN" || name == "END" || isUnknownName(name))
            continue;
        icalproperty *p = icalproperty_new_from_string(line.text.constData());
        if (!p)
            throw CalendarFileError(line.number, QStringLiteral("libical cannot read this line: %1").arg(shown(line.text)));
        icalproperty_free(p);
    }
    for (int i = 0; i < events.size(); ++i) {
        const QString error = firstError(events[i]);
        if (!error.isEmpty())
            throw CalendarFileError(eventLines.value(i).begin, error);
    }
    const QString error = firstError(root);
    if (!error.isEmpty())
        throw CalendarFileError(lines.first().number, error);
}

// libical takes a 13th month or a 32nd day as it comes.
void checkTime(const icaltimetype &t, const EventLines &where, const char *name)
{
    const bool valid = QDate(t.year, t.month, t.day).isValid()
        && (t.is_date || QTime(t.hour, t.minute, t.second == 60 ? 59 : t.second).isValid());
    if (!valid)
        throw CalendarFileError(where.properties.value(name, where.begin),
                                QStringLiteral("%1 is no date that exists.").arg(QString::fromLatin1(name)));
}

// This machine's wall-clock time of `t`, to the minute the calendar keeps.
QDateTime toLocal(const icaltimetype &t)
{
    if (t.is_date)
        return QDateTime(QDate(t.year, t.month, t.day), QTime(0, 0), Qt::UTC);
    QDateTime local;
    if (icaltime_is_utc(t))
        local = QDateTime::fromSecsSinceEpoch(icaltime_as_timet(t), Qt::UTC).toLocalTime();
    else if (t.zone)
        local = QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(t, t.zone), Qt::LocalTime);
    else
        local = QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute), Qt::UTC);
    return QDateTime(local.date(), QTime(local.time().hour(), local.time().minute()), Qt::UTC);
}

QString textOf(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

QString staffOf(icalcomponent *ev)
{
    if (icalproperty *contact = icalcomponent_get_first_property(ev, ICAL_CONTACT_PROPERTY))
        return textOf(icalproperty_get_contact(contact)).trimmed();
    if (icalproperty *organizer = icalcomponent_get_first_property(ev, ICAL_ORGANIZER_PROPERTY)) {
        if (icalparameter *cn = icalproperty_get_first_parameter(organizer, ICAL_CN_PARAMETER))
            return textOf(icalparameter_get_cn(cn)).trimmed();
        QString address = textOf(icalproperty_get_organizer(organizer));
        if (address.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
            address = address.mid(7);
        return address.trimmed();
    }
    return QString();
}

QString uidOf(icalcomponent *ev)
{
    const QString uid = textOf(icalcomponent_get_uid(ev));
    if (!uid.isEmpty())
        return uid;
    // Without a UID an entry is known by what it says and when.
    const QByteArray key = QByteArray(icalcomponent_get_summary(ev) ? icalcomponent_get_summary(ev) : "") + '\n'
        + icaltime_as_ical_string(icalcomponent_get_dtstart(ev));
    return QStringLiteral("no-uid-") + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex());
}

// Occurrences that another VEVENT with RECURRENCE-ID moved or changed.
using Moved = QSet<QPair<QString, QDateTime>>;

QList<QDateTime> occurrenceStarts(icalcomponent *ev, const icaltimetype &start, const QString &uid, const Moved &moved,
                                  const QDate &first, const QDate &last, int line)
{
    QList<QDateTime> starts;
    icalproperty *rrule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
    if (!rrule) {
        starts.append(toLocal(start));
    } else {
        icalrecur_iterator *it = icalrecur_iterator_new(icalproperty_get_rrule(rrule), start);
        if (!it)
            throw CalendarFileError(line, QStringLiteral("The RRULE of this VEVENT cannot be followed."));
        // Rules without an end stop at the range; a runaway rule stops here.
        int guard = 0;
        for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t) && ++guard < 1000000;
             t = icalrecur_iterator_next(it)) {
            if (!t.is_date)
                t.zone = start.zone;
            const QDateTime local = toLocal(t);
            if (local.date() > last)
                break;
            starts.append(local);
        }
        icalrecur_iterator_free(it);
    }
    for (icalproperty *p = icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_RDATE_PROPERTY)) {
        const icaltimetype t = icalproperty_get_datetime_with_component(p, ev);
        if (!icaltime_is_null_time(t))
            starts.append(toLocal(t));
    }
    QSet<QDate> excludedDays;
    QSet<QDateTime> excluded;
    for (icalproperty *p = icalcomponent_get_first_property(ev, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = icalproperty_get_datetime_with_component(p, ev);
        if (t.is_date)
            excludedDays.insert(QDate(t.year, t.month, t.day));
        else
            excluded.insert(toLocal(t));
    }
    QList<QDateTime> kept;
    QSet<QDateTime> seen;
    for (const QDateTime &s : starts) {
        if (s.date() < first || s.date() > last || excludedDays.contains(s.date()) || excluded.contains(s)
            || moved.contains({uid, s}) || seen.contains(s))
            continue;
        seen.insert(s);
        kept.append(s);
    }
    return kept;
}

} // namespace

ReadCalendar readCalendar(const QByteArray &text, const QDate &first, const QDate &last)
{
    initLibical();
    const QList<Line> lines = logicalLines(text);
    const QList<EventLines> eventLines = checkStructure(lines);

    QByteArray terminated = text;
    ComponentPtr root(icalparser_parse_string(terminated.constData()));
    if (!root)
        throw CalendarFileError(lines.first().number, QStringLiteral("libical cannot read the file."));

    QList<icalcomponent *> events;
    auto collect = [&events](icalcomponent *cal) {
        for (icalcomponent *ev = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); ev;
             ev = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT))
            events.append(ev);
    };
    if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
        collect(root.get());
    } else {
        for (icalcomponent *cal = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT); cal;
             cal = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT))
            collect(cal);
    }
    if (icalcomponent_count_errors(root.get()) > 0)
        refuseErrors(lines, events, eventLines, root.get());

    Moved moved;
    for (icalcomponent *ev : events) {
        if (icalproperty *rid = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY))
            moved.insert({uidOf(ev), toLocal(icalproperty_get_datetime_with_component(rid, ev))});
    }

    ReadCalendar out;
    for (int i = 0; i < events.size(); ++i) {
        icalcomponent *ev = events[i];
        const EventLines where = eventLines.value(i);
        const int line = where.begin;
        if (!icalcomponent_get_first_property(ev, ICAL_DTSTART_PROPERTY))
            throw CalendarFileError(line, QStringLiteral("A VEVENT without DTSTART."));
        if (icalcomponent_get_status(ev) == ICAL_STATUS_CANCELLED) {
            ++out.cancelled;
            continue;
        }
        const icaltimetype start = icalcomponent_get_dtstart(ev);
        const icaltimetype end = icalcomponent_get_dtend(ev);
        checkTime(start, where, "DTSTART");
        if (!icaltime_is_null_time(end))
            checkTime(end, where, icalcomponent_get_first_property(ev, ICAL_DTEND_PROPERTY) ? "DTEND" : "DURATION");
        const bool allDay = start.is_date;
        int days = 1;
        qint64 seconds = 0;
        if (!icaltime_is_null_time(end)) {
            if (allDay)
                days = std::max<qint64>(1, toLocal(start).date().daysTo(toLocal(end).date()));
            else
                seconds = std::max<qint64>(0, toLocal(start).secsTo(toLocal(end)));
        }
        CalendarEvent base;
        base.uid = uidOf(ev);
        base.title = textOf(icalcomponent_get_summary(ev));
        base.description = toStoredLines(textOf(icalcomponent_get_description(ev)));
        base.staffName = staffOf(ev);
        base.allDay = allDay;
        const bool isMove = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
        const QList<QDateTime> starts =
            occurrenceStarts(ev, start, base.uid, isMove ? Moved() : moved, first, last, line);
        if (starts.isEmpty())
            ++out.outsideRange;
        for (const QDateTime &s : starts) {
            CalendarEvent e = base;
            e.start = s;
            e.end = allDay ? QDateTime(s.date().addDays(days - 1), QTime(23, 59), Qt::UTC) : s.addSecs(seconds);
            out.events.append(e);
        }
    }
    return out;
}

} // namespace exchange
