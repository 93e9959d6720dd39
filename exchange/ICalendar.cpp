#include "exchange/ICalendar.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QScopeGuard>
#include <QSet>
#include <QThreadPool>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

namespace exchange {
namespace {

constexpr const char *kNotesProperty = "X-ORVENNA-NOTES";
// Lines from which a file's parse is shared by two parsers: a few hundred
// entries, where a second thread costs less than it saves.
constexpr qsizetype kLinesWorthTwoParsers = 4096;

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

// CR LF, a lone CR and a lone LF each become CR LF, in one pass; a text
// without line breaks, as most are, is returned as it is.
QString toStoredLines(const QString &text)
{
    const auto isBreak = [](QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); };
    if (std::none_of(text.cbegin(), text.cend(), isBreak))
        return text;
    // At most twice as long (every break a lone LF); written through a pointer,
    // not appended a character at a time.
    QString out(text.size() * 2, Qt::Uninitialized);
    QChar *to = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!isBreak(c)) {
            *to++ = c;
            continue;
        }
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        *to++ = QLatin1Char('\r');
        *to++ = QLatin1Char('\n');
    }
    out.truncate(to - out.constData());
    return out;
}

icaltimezone *knownZone(const QByteArray &zoneId)
{
    if (zoneId.isEmpty())
        return nullptr;
    const auto builtIn = [](const char *name) -> icaltimezone * {
        icaltimezone *zone = icaltimezone_get_builtin_timezone(name);
        return zone && icaltimezone_get_component(zone) ? zone : nullptr;
    };
    // Asked twice for every entry of a file: the "Etc/" name only when needed.
    if (icaltimezone *zone = builtIn(zoneId.constData()))
        return zone;
    return builtIn((QByteArray("Etc/") + zoneId).constData());
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
        // Phones show the combined DESCRIPTION; another Orvenna calendar
        // takes the notes apart again.
        if (!e.notes.isEmpty()) {
            icalproperty *notes = icalproperty_new_x(utf8(toIcalLines(e.notes)).constData());
            icalproperty_set_x_name(notes, kNotesProperty);
            icalcomponent_add_property(ev, notes);
        }
        if (e.reminderMinutes >= 0) {
            icalcomponent *alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
            icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
            icalcomponent_add_property(alarm, icalproperty_new_description(utf8(e.title).constData()));
            icaltriggertype trigger;
            trigger.time = icaltime_null_time();
            trigger.duration = icaldurationtype_from_int(-60 * e.reminderMinutes);
            icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
            icalcomponent_add_component(ev, alarm);
        }
        out += serialized(ev);
        icalcomponent_free(ev);
    }
    out += frame.mid(at + placeholderText.size());
    return out;
}

namespace {

// Stops a reading that was cancelled or runs too long, and says how far it is.
class Clock
{
public:
    explicit Clock(const ReadControl &control) : m_control(control) { m_timer.start(); }

    // `line` is where the reading is, for the refusal.
    void check(int line) const
    {
        if (m_control.cancel && m_control.cancel->load(std::memory_order_relaxed))
            throw ReadCancelled();
        if (m_timer.elapsed() > m_control.timeLimitMs)
            throw CalendarFileError(line, QStringLiteral("Reading this file took longer than %1 seconds; it stopped here. "
                                                         "Choose fewer days, or remove this entry's rule.")
                                              .arg(m_control.timeLimitMs / 1000));
    }
    void progress(int percent) const
    {
        if (m_control.percent)
            m_control.percent->store(percent, std::memory_order_relaxed);
    }

private:
    const ReadControl &m_control;
    QElapsedTimer m_timer;
};

QString tooLongText()
{
    return QStringLiteral("This line is longer than 1 MB; Orvenna reads no line or value that long.");
}

// One unfolded line: where it stands in Lines::text, and the physical line it
// starts on.
struct Line
{
    int number;
    qsizetype offset;
    qsizetype size;
};

// The file's lines joined where folded, one after another in one buffer, each
// ended by a NUL for libical: one allocation for the whole file, not one a line.
struct Lines
{
    QByteArray text;
    QList<Line> lines;

    [[nodiscard]] QByteArrayView view(const Line &line) const { return {text.constData() + line.offset, line.size}; }
};

// Physical lines joined where folded, each with the line it starts on. Lines
// past kLongestLine are refused before anything else reads them: libical
// takes minutes over a line of some megabytes.
Lines logicalLines(const QByteArray &text, const Clock &clock)
{
    Lines out;
    out.text.reserve(text.size() + 1);
    int number = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        ++number;
        if (end - pos > kLongestLine + 1)
            throw CalendarFileError(number, tooLongText());
        QByteArrayView physical(text.constData() + pos, end - pos);
        if (physical.endsWith('\r'))
            physical.chop(1);
        pos = end + 1;
        if ((number & 4095) == 0)
            clock.check(number);
        if (!physical.isEmpty() && (physical[0] == ' ' || physical[0] == '\t') && !out.lines.isEmpty()) {
            Line &last = out.lines.last();
            if (last.size + physical.size() > kLongestLine)
                throw CalendarFileError(last.number, tooLongText());
            // The last line ends the buffer: its NUL goes behind the continuation.
            out.text.chop(1);
            out.text.append(physical.sliced(1));
            out.text.append('\0');
            last.size += physical.size() - 1;
        } else if (!physical.isEmpty()) {
            out.lines.append({number, out.text.size(), physical.size()});
            out.text.append(physical);
            out.text.append('\0');
        }
    }
    return out;
}

QString shown(QByteArrayView line)
{
    const QString text = QString::fromUtf8(line.first(std::min<qsizetype>(240, line.size())));
    return text.size() > 60 ? text.left(57) + QStringLiteral("...") : text;
}

// The property name, up to its parameters or value, without blanks around it.
QByteArrayView nameView(QByteArrayView line)
{
    qsizetype end = 0;
    while (end < line.size() && line[end] != ':' && line[end] != ';')
        ++end;
    return line.first(end).trimmed();
}

QByteArray nameOf(QByteArrayView line)
{
    return nameView(line).toByteArray().toUpper();
}

bool isName(QByteArrayView name, QByteArrayView upper)
{
    return name.size() == upper.size() && name.compare(upper, Qt::CaseInsensitive) == 0;
}

// Where the value begins: the colon after the name and its parameters
// (name=value[,value], values maybe quoted), or -1. An empty or nameless
// parameter (";;", ";=x") makes `broken` true.
qsizetype valueColon(QByteArrayView line, bool &broken)
{
    broken = false;
    qsizetype i = 0;
    while (i < line.size() && line[i] != ';' && line[i] != ':')
        ++i;
    while (i < line.size() && line[i] == ';') {
        const qsizetype nameStart = ++i;
        while (i < line.size() && line[i] != '=' && line[i] != ';' && line[i] != ':')
            ++i;
        if (i == nameStart || i >= line.size() || line[i] != '=') {
            broken = true;
            return line.indexOf(':');
        }
        ++i;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ';' && line[i] != ':'))) {
            if (line[i] == '"')
                quoted = !quoted;
            ++i;
        }
    }
    return i < line.size() ? i : -1;
}

// Properties whose value is a time or a rule: without one the entry means nothing.
bool needsValue(QByteArrayView name)
{
    for (const char *n : {"DTSTART", "DTEND", "DURATION", "RRULE", "RDATE", "EXDATE", "RECURRENCE-ID"})
        if (isName(name, n))
            return true;
    return false;
}

// Where a VEVENT and the properties a refusal names begin; 0: none.
struct EventLines
{
    int begin = 1;
    int dtstart = 0;
    int dtend = 0;
    int duration = 0;

    [[nodiscard]] int lineOf(const char *name) const
    {
        const int at = qstrcmp(name, "DTSTART") == 0 ? dtstart : qstrcmp(name, "DTEND") == 0 ? dtend : duration;
        return at ? at : begin;
    }
};

// BEGIN/END must pair up inside one VCALENDAR, every line needs a colon
// after a sound parameter list. Returns where each VEVENT is, in file order,
// and the lines libical is to read: without the error marks another
// libical wrote (X-LIC-ERROR) and without empty values, which mean nothing
// but which libical marks as errors.
QList<EventLines> checkStructure(const Lines &lines, QList<Line> &kept)
{
    if (lines.lines.isEmpty())
        throw CalendarFileError(1, QStringLiteral("The file is empty."));
    if (lines.view(lines.lines.first()).trimmed().toByteArray().toUpper() != "BEGIN:VCALENDAR")
        throw CalendarFileError(lines.lines.first().number, QStringLiteral("An iCalendar file begins with BEGIN:VCALENDAR."));
    kept.reserve(lines.lines.size());
    QList<QByteArray> open;
    QList<EventLines> events;
    for (const Line &line : lines.lines) {
        const QByteArrayView text = lines.view(line);
        bool broken = false;
        const qsizetype colon = valueColon(text, broken);
        if (colon < 0)
            throw CalendarFileError(line.number, QStringLiteral("A line without ':': %1").arg(shown(text)));
        if (broken)
            throw CalendarFileError(line.number, QStringLiteral("A broken parameter list: %1").arg(shown(text)));
        const QByteArrayView name = nameView(text);
        const QByteArrayView rawValue = text.sliced(colon + 1).trimmed();
        const bool begins = isName(name, "BEGIN");
        const bool ends = !begins && isName(name, "END");
        // Only a component's name is compared whole; other values need not be copied.
        const QByteArray value = begins || ends ? rawValue.toByteArray().toUpper() : QByteArray();
        if (open.isEmpty() && !(begins && value == "VCALENDAR"))
            throw CalendarFileError(line.number, QStringLiteral("Text outside BEGIN:VCALENDAR ... END:VCALENDAR."));
        if (begins) {
            if (value == "VEVENT") {
                if (open.size() != 1)
                    throw CalendarFileError(line.number, QStringLiteral("A VEVENT inside %1.").arg(QString::fromUtf8(open.last())));
                events.append(EventLines{line.number});
            }
            open.append(value);
        } else if (ends) {
            if (open.last() != value)
                throw CalendarFileError(line.number, QStringLiteral("END:%1 where END:%2 was expected.")
                                                         .arg(QString::fromUtf8(value), QString::fromUtf8(open.last())));
            open.removeLast();
        } else {
            if (rawValue.isEmpty() && needsValue(name))
                throw CalendarFileError(line.number, QStringLiteral("%1 without a value.").arg(QString::fromUtf8(name.toByteArray().toUpper())));
            if (rawValue.isEmpty() || isName(name, "X-LIC-ERROR"))
                continue;
            if (open.size() == 2 && open.last() == "VEVENT") {
                EventLines &event = events.last();
                int *first = isName(name, "DTSTART") ? &event.dtstart
                    : isName(name, "DTEND")          ? &event.dtend
                    : isName(name, "DURATION")       ? &event.duration
                                                     : nullptr;
                if (first && !*first)
                    *first = line.number;
            }
        }
        kept.append(line);
    }
    if (!open.isEmpty())
        throw CalendarFileError(lines.lines.last().number,
                                QStringLiteral("The file ends before END:%1.").arg(QString::fromUtf8(open.last())));
    return events;
}

struct ParserFree
{
    void operator()(icalparser *p) const { icalparser_free(p); }
};

// Where a file's one calendar may be cut in two for two parsers: before the
// first of its components (at its top level) past the middle, when no
// property of the calendar itself follows. -1 when there is no such place.
qsizetype splitPoint(const Lines &all, const QList<Line> &lines)
{
    qsizetype split = -1;
    int depth = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = all.view(lines[i]);
        // Only BEGIN and END change the depth: other names need no look.
        const char c = line.isEmpty() ? '\0' : char(line[0] | 0x20);
        const QByteArrayView name = c == 'b' || c == 'e' ? nameView(line) : QByteArrayView();
        if (isName(name, "BEGIN")) {
            if (depth == 1 && split < 0 && i >= lines.size() / 2)
                split = i;
            ++depth;
        } else if (isName(name, "END")) {
            // A second calendar in the file: libical keeps them apart, so do not cut.
            if (--depth == 0 && i != lines.size() - 1)
                return -1;
        } else if (depth == 1 && split >= 0) {
            return -1;
        }
    }
    return split;
}

// libical's tree of the file, line by line so that a file of many long
// lines can be stopped between them. libical reads a copy: the lines stay as
// they were for a refusal that quotes them. A large file's one calendar is
// read by two parsers at once, its second half under a calendar of its own
// whose components then join the first's in order: the same tree, in about
// half the time on a machine of two cores.
ComponentPtr parse(const Lines &all, const QList<Line> &lines, const Clock &clock)
{
    QByteArray text(all.text.constData(), all.text.size());
    const qsizetype split = lines.size() >= kLinesWorthTwoParsers ? splitPoint(all, lines) : -1;
    const qsizetype firstEnd = split < 0 ? lines.size() : split;

    ComponentPtr second;
    std::atomic<bool> stop{false};
    std::exception_ptr secondFailed;
    std::thread worker;
    if (split >= 0) {
        worker = std::thread([&] {
            try {
                std::unique_ptr<icalparser, ParserFree> parser(icalparser_new());
                char begin[] = "BEGIN:VCALENDAR";
                icalparser_add_line(parser.get(), begin);
                for (qsizetype i = split; i < lines.size() && !stop.load(std::memory_order_relaxed); ++i) {
                    if (icalcomponent *c = icalparser_add_line(parser.get(), text.data() + lines[i].offset))
                        second.reset(c);
                }
            } catch (...) {
                secondFailed = std::current_exception();
            }
        });
    }
    // Whatever ends this one (a Cancel, a deadline), the other parser stops too.
    const auto joined = qScopeGuard([&] {
        if (worker.joinable()) {
            stop = true;
            worker.join();
        }
    });

    std::unique_ptr<icalparser, ParserFree> parser(icalparser_new());
    std::vector<ComponentPtr> calendars;
    for (qsizetype i = 0; i < firstEnd; ++i) {
        if ((i & 63) == 0) {
            clock.check(lines[i].number);
            clock.progress(10 + int(20 * i / firstEnd));
        }
        if (icalcomponent *c = icalparser_add_line(parser.get(), text.data() + lines[i].offset))
            calendars.emplace_back(c);
    }
    if (split >= 0) {
        char end[] = "END:VCALENDAR";
        if (icalcomponent *c = icalparser_add_line(parser.get(), end))
            calendars.emplace_back(c);
        worker.join();
        if (secondFailed)
            std::rethrow_exception(secondFailed);
        // Lines that pair up (checkStructure saw to that) give one calendar each.
        if (calendars.size() != 1 || !second)
            throw CalendarFileError(lines.first().number, QStringLiteral("libical cannot read the file."));
        icalcomponent *into = calendars.front().get();
        while (icalcomponent *sub = icalcomponent_get_first_component(second.get(), ICAL_ANY_COMPONENT)) {
            icalcomponent_remove_component(second.get(), sub);
            icalcomponent_add_component(into, sub);
        }
    }
    if (calendars.empty())
        return nullptr;
    if (calendars.size() == 1)
        return std::move(calendars.front());
    ComponentPtr root(icalcomponent_new(ICAL_XROOT_COMPONENT));
    for (ComponentPtr &c : calendars)
        icalcomponent_add_component(root.get(), c.release());
    return root;
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
void refuseErrors(const Lines &all, const QList<Line> &lines, const QList<icalcomponent *> &events,
                  const QList<EventLines> &eventLines, icalcomponent *root, const Clock &clock)
{
    for (const Line &line : lines) {
        const QByteArray name = nameOf(all.view(line));
        if (name == "BEGIN" || name == "END" || isUnknownName(name))
            continue;
        clock.check(line.number);
        icalproperty *p = icalproperty_new_from_string(all.text.constData() + line.offset);
        if (!p)
            throw CalendarFileError(line.number, QStringLiteral("libical cannot read this line: %1").arg(shown(all.view(line))));
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

// libical takes a 13th month or a 32nd day as it comes; the calendar keeps
// four-digit years.
void checkTime(const icaltimetype &t, const EventLines &where, const char *name)
{
    const bool valid = QDate(t.year, t.month, t.day).isValid()
        && (t.is_date || QTime(t.hour, t.minute, t.second == 60 ? 59 : t.second).isValid());
    const int line = where.lineOf(name);
    if (!valid)
        throw CalendarFileError(line, QStringLiteral("%1 is no date that exists.").arg(QString::fromLatin1(name)));
    if (t.year > 9999)
        throw CalendarFileError(line, QStringLiteral("%1 lies after the year 9999.").arg(QString::fromLatin1(name)));
}

// The fields of `t` as they are written, carried as UTC like the store's times.
QDateTime wallOf(const icaltimetype &t)
{
    return QDateTime(QDate(t.year, t.month, t.day), t.is_date ? QTime(0, 0) : QTime(t.hour, t.minute, std::min(t.second, 59)),
                     Qt::UTC);
}

// The instant of a wall-clock time in its zone. A time in a spring-forward
// gap counts with the offset before the gap (RFC 5545, 3.3.5), where libical
// takes the one after it.
qint64 instantOf(icaltimetype t)
{
    const qint64 wall = wallOf(t).toSecsSinceEpoch();
    int daylight = 0;
    auto *zone = const_cast<icaltimezone *>(t.zone);
    const int offset = icaltimezone_get_utc_offset(zone, &t, &daylight);
    const qint64 utc = wall - offset;
    icaltimetype back = icaltime_from_timet_with_zone(time_t(utc), 0, icaltimezone_get_utc_timezone());
    const int offsetThen = icaltimezone_get_utc_offset_of_utc_time(zone, &back, &daylight);
    if (utc + offsetThen == wall)
        return utc;
    return wall - std::min(offset, offsetThen);
}

bool isThisMachinesZone(const icaltimezone *zone)
{
    static const QByteArray system = QTimeZone::systemTimeZoneId();
    const char *tzid = icaltimezone_get_tzid(const_cast<icaltimezone *>(zone));
    return tzid && system == tzid;
}

// This machine's wall-clock time of `t`, to the minute the calendar keeps.
QDateTime toLocal(const icaltimetype &t)
{
    if (t.is_date)
        return QDateTime(QDate(t.year, t.month, t.day), QTime(0, 0), Qt::UTC);
    QDateTime local;
    if (icaltime_is_utc(t))
        local = QDateTime::fromSecsSinceEpoch(icaltime_as_timet(t), Qt::UTC).toLocalTime();
    else if (t.zone && !isThisMachinesZone(t.zone))
        local = QDateTime::fromSecsSinceEpoch(instantOf(t), Qt::LocalTime);
    else // floating, or written in this machine's zone: as it stands, a gap's time too
        local = QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute), Qt::UTC);
    return QDateTime(local.date(), QTime(local.time().hour(), local.time().minute()), Qt::UTC);
}

// A time property's value with its zone. Outlook names Windows zones without
// defining them; a zone found nowhere is given in `unknownZone`.
icaltimetype timeOf(icalproperty *p, icalcomponent *ev, QByteArray &unknownZone)
{
    icaltimetype t = icalproperty_get_datetime_with_component(p, ev);
    // An RDATE may be a period; its start is the occurrence's.
    if (icaltime_is_null_time(t) && icalproperty_isa(p) == ICAL_RDATE_PROPERTY) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
    }
    if (t.is_date || t.zone || icaltime_is_null_time(t))
        return t;
    icalparameter *param = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
    if (!param)
        return t;
    const QByteArray tzid = icalparameter_get_tzid(param);
    // A zone libical knows by name, else a Windows name for one.
    icaltimezone *zone = knownZone(tzid.trimmed());
    if (!zone)
        zone = knownZone(QTimeZone::windowsIdToDefaultIanaId(tzid.trimmed()));
    if (zone)
        t.zone = zone;
    else if (unknownZone.isEmpty())
        unknownZone = tzid;
    return t;
}

QString textOf(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// The properties of a VEVENT the reading looks at, the first of each kind,
// found in one walk over them rather than one walk a kind.
struct EventProperties
{
    icalproperty *dtstart = nullptr;
    icalproperty *dtend = nullptr;
    icalproperty *duration = nullptr;
    icalproperty *rrule = nullptr;
    icalproperty *rdate = nullptr;
    icalproperty *exdate = nullptr;
    icalproperty *recurrenceId = nullptr;
    icalproperty *status = nullptr;
    icalproperty *summary = nullptr;
    icalproperty *description = nullptr;
    icalproperty *uid = nullptr;
    icalproperty *contact = nullptr;
    icalproperty *organizer = nullptr;
    icalproperty *notes = nullptr; // X-ORVENNA-NOTES
    bool hasError = false;          // an X-LIC-ERROR libical added
};

EventProperties propertiesOf(icalcomponent *ev)
{
    EventProperties found;
    for (icalproperty *p = icalcomponent_get_first_property(ev, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_ANY_PROPERTY)) {
        icalproperty **first = nullptr;
        switch (icalproperty_isa(p)) {
        case ICAL_DTSTART_PROPERTY: first = &found.dtstart; break;
        case ICAL_DTEND_PROPERTY: first = &found.dtend; break;
        case ICAL_DURATION_PROPERTY: first = &found.duration; break;
        case ICAL_RRULE_PROPERTY: first = &found.rrule; break;
        case ICAL_RDATE_PROPERTY: first = &found.rdate; break;
        case ICAL_EXDATE_PROPERTY: first = &found.exdate; break;
        case ICAL_RECURRENCEID_PROPERTY: first = &found.recurrenceId; break;
        case ICAL_STATUS_PROPERTY: first = &found.status; break;
        case ICAL_SUMMARY_PROPERTY: first = &found.summary; break;
        case ICAL_DESCRIPTION_PROPERTY: first = &found.description; break;
        case ICAL_UID_PROPERTY: first = &found.uid; break;
        case ICAL_CONTACT_PROPERTY: first = &found.contact; break;
        case ICAL_ORGANIZER_PROPERTY: first = &found.organizer; break;
        case ICAL_XLICERROR_PROPERTY: found.hasError = true; break;
        case ICAL_X_PROPERTY:
            if (!found.notes) {
                const char *name = icalproperty_get_x_name(p);
                if (name && qstricmp(name, kNotesProperty) == 0)
                    found.notes = p;
            }
            break;
        default: break;
        }
        if (first && !*first)
            *first = p;
    }
    return found;
}

// Whether libical marked an error anywhere in `c`, as icalcomponent_count_errors
// tells: the entries' own properties were walked already, the rest is walked here.
bool hasErrors(icalcomponent *c, const QHash<const icalcomponent *, const EventProperties *> &walked)
{
    const auto entry = walked.constFind(c);
    if (entry != walked.constEnd() ? entry.value()->hasError : icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY) != nullptr)
        return true;
    for (icalcomponent *sub = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); sub;
         sub = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT)) {
        if (hasErrors(sub, walked))
            return true;
    }
    return false;
}

QString staffOf(const EventProperties &p)
{
    if (p.contact)
        return textOf(icalproperty_get_contact(p.contact)).trimmed();
    if (p.organizer) {
        if (icalparameter *cn = icalproperty_get_first_parameter(p.organizer, ICAL_CN_PARAMETER))
            return textOf(icalparameter_get_cn(cn)).trimmed();
        QString address = textOf(icalproperty_get_organizer(p.organizer));
        if (address.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
            address = address.mid(7);
        return address.trimmed();
    }
    return QString();
}

// The notes another Orvenna calendar wrote apart, taken out of the combined
// description where it still ends with them.
void readNotes(const EventProperties &props, CalendarEvent &e)
{
    if (!props.notes)
        return;
    e.notes = toStoredLines(textOf(icalproperty_get_x(props.notes)));
    if (e.notes.isEmpty())
        return;
    const QString tail = QStringLiteral("\r\n\r\n") + e.notes;
    if (e.description == e.notes)
        e.description.clear();
    else if (e.description.endsWith(tail))
        e.description.chop(tail.size());
}

QString uidOf(icalcomponent *ev, const EventProperties &p)
{
    const QString uid = p.uid ? textOf(icalproperty_get_uid(p.uid)) : QString();
    if (!uid.isEmpty())
        return uid;
    // Without a UID an entry is known by what it says and when.
    const char *summary = p.summary ? icalproperty_get_summary(p.summary) : nullptr;
    const QByteArray key = QByteArray(summary ? summary : "") + '\n' + icaltime_as_ical_string(icalcomponent_get_dtstart(ev));
    return QStringLiteral("no-uid-") + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex());
}

// Occurrences that another VEVENT with RECURRENCE-ID moved or changed.
using Moved = QSet<QPair<QString, QDateTime>>;

// Seconds from one step of the rule to the next where that is fixed; 0 for
// months and years.
qint64 stepOf(const icalrecurrencetype &rule)
{
    const qint64 interval = std::max<qint64>(1, rule.interval);
    switch (rule.freq) {
    case ICAL_SECONDLY_RECURRENCE: return interval;
    case ICAL_MINUTELY_RECURRENCE: return interval * 60;
    case ICAL_HOURLY_RECURRENCE: return interval * 3600;
    case ICAL_DAILY_RECURRENCE: return interval * 86400;
    case ICAL_WEEKLY_RECURRENCE: return interval * 7 * 86400;
    default: return 0;
    }
}

// A rule that only steps: every occurrence is DTSTART plus whole steps.
bool onlySteps(const icalrecurrencetype &rule)
{
    const short *parts[] = {rule.by_second, rule.by_minute, rule.by_hour, rule.by_day, rule.by_month_day,
                            rule.by_year_day, rule.by_week_no, rule.by_month, rule.by_set_pos};
    return std::all_of(std::begin(parts), std::end(parts), [](const short *p) { return p[0] == ICAL_RECURRENCE_ARRAY_MAX; });
}

struct Expansion
{
    const QDate first;
    const QDate last;
    const Clock &clock;
    int occurrences = 0; // so far, in the range
};

// The rule's occurrence starts up to the last day. A rule that began years
// before the range is entered close to the range's first day, so that
// thousands of steps a day cost nothing before it.
void ruleStarts(icalproperty *rruleProperty, const icaltimetype &start, Expansion &x, int line, QList<QDateTime> &starts)
{
    icalrecurrencetype rule = icalproperty_get_rrule(rruleProperty);
    const qint64 step = stepOf(rule);
    const QDateTime wallStart = wallOf(start);
    // Two days before the first day: any zone's time is then still before it.
    const QDateTime from(x.first.addDays(-2), QTime(0, 0), Qt::UTC);
    QDateTime lastWall; // of a COUNT rule that only steps
    if (rule.count > 0 && step > 0 && onlySteps(rule)) {
        const qint64 steps = rule.count - 1;
        if (steps <= wallStart.secsTo(QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC)) / step)
            lastWall = wallStart.addSecs(steps * step);
        rule.count = 0; // ended here instead, so that the rule can be entered late
    }
    icalrecur_iterator *it = icalrecur_iterator_new(rule, start);
    if (!it)
        throw CalendarFileError(line, QStringLiteral("The RRULE of this VEVENT cannot be followed."));
    if (rule.count == 0 && step > 0 && wallStart < from) {
        icaltimetype entry = start;
        const QDateTime at = wallStart.addSecs(wallStart.secsTo(from) / step * step);
        entry.year = at.date().year();
        entry.month = at.date().month();
        entry.day = at.date().day();
        if (!entry.is_date) {
            entry.hour = at.time().hour();
            entry.minute = at.time().minute();
            entry.second = at.time().second();
        }
        // Past UNTIL libical refuses to start: the rule ended before the range.
        if (!icalrecur_iterator_set_start(it, entry)) {
            icalrecur_iterator_free(it);
            if (!icaltime_is_null_time(rule.until) && wallOf(rule.until) < from)
                return;
            it = icalrecur_iterator_new(rule, start);
        }
    }
    int taken = 0;
    try {
        for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
            if ((++taken & 1023) == 0)
                x.clock.check(line);
            if (!t.is_date)
                t.zone = start.zone;
            if (lastWall.isValid() && wallOf(t) > lastWall)
                break;
            const QDateTime local = toLocal(t);
            if (local.date() > x.last)
                break;
            if (local.date() < x.first)
                continue;
            if (++x.occurrences > kMostOccurrences)
                throw CalendarFileError(line, QStringLiteral("More than %1 events start between the chosen dates; Orvenna "
                                                             "imports at most that many at a time. Choose fewer days.")
                                                  .arg(QLocale(QLocale::English, QLocale::UnitedStates).toString(kMostOccurrences)));
            starts.append(local);
        }
    } catch (...) {
        icalrecur_iterator_free(it);
        throw;
    }
    icalrecur_iterator_free(it);
}

QList<QDateTime> occurrenceStarts(icalcomponent *ev, const EventProperties &props, const icaltimetype &start,
                                  const QDateTime &localStart, const QString &uid, const Moved &moved, Expansion &x,
                                  int line, QByteArray &unknownZone)
{
    QList<QDateTime> starts;
    if (props.rrule)
        ruleStarts(props.rrule, start, x, line, starts);
    else
        starts.append(localStart);
    for (icalproperty *p = props.rdate ? icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY) : nullptr; p;
         p = icalcomponent_get_next_property(ev, ICAL_RDATE_PROPERTY)) {
        const icaltimetype t = timeOf(p, ev, unknownZone);
        if (!icaltime_is_null_time(t))
            starts.append(toLocal(t));
    }
    QSet<QDate> excludedDays;
    QSet<QDateTime> excluded;
    for (icalproperty *p = props.exdate ? icalcomponent_get_first_property(ev, ICAL_EXDATE_PROPERTY) : nullptr; p;
         p = icalcomponent_get_next_property(ev, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = timeOf(p, ev, unknownZone);
        // Outlook excludes a day of an all-day series with that day's midnight
        // in its own zone: the day as written is the one meant.
        if (t.is_date || start.is_date)
            excludedDays.insert(QDate(t.year, t.month, t.day));
        else
            excluded.insert(toLocal(t));
    }
    QList<QDateTime> kept;
    QSet<QDateTime> seen;
    for (const QDateTime &s : starts) {
        if (s.date() < x.first || s.date() > x.last || excludedDays.contains(s.date()) || excluded.contains(s)
            || moved.contains({uid, s}))
            continue;
        // One start alone needs no set to be told apart.
        if (starts.size() > 1) {
            if (seen.contains(s))
                continue;
            seen.insert(s);
        }
        kept.append(s);
    }
    return kept;
}

// What reading a file leaves behind, freed where nobody waits for it.
struct Leftovers
{
    ComponentPtr root;
    Lines lines;
    QList<Line> kept;
    QList<icalcomponent *> events;
    QList<EventProperties> properties;
    QHash<const icalcomponent *, const EventProperties *> walked;
};

} // namespace

ReadCalendar readCalendar(const QByteArray &text, const QDate &first, const QDate &last, const ReadControl &control)
{
    initLibical();
    const Clock clock(control);
    Lines lines = logicalLines(text, clock);
    clock.progress(5);
    QList<Line> kept;
    const QList<EventLines> eventLines = checkStructure(lines, kept);
    clock.check(lines.lines.last().number);
    clock.progress(10);

    ComponentPtr root = parse(lines, kept, clock);
    if (!root)
        throw CalendarFileError(lines.lines.first().number, QStringLiteral("libical cannot read the file."));
    clock.progress(30);

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
    QList<EventProperties> properties;
    properties.reserve(events.size());
    QHash<const icalcomponent *, const EventProperties *> walked;
    walked.reserve(events.size());
    for (icalcomponent *ev : events)
        properties.append(propertiesOf(ev));
    for (qsizetype i = 0; i < events.size(); ++i)
        walked.insert(events[i], &properties[i]);
    if (hasErrors(root.get(), walked))
        refuseErrors(lines, kept, events, eventLines, root.get(), clock);

    Moved moved;
    for (int i = 0; i < events.size(); ++i) {
        QByteArray unknownZone;
        if (icalproperty *rid = properties[i].recurrenceId)
            moved.insert({uidOf(events[i], properties[i]), toLocal(timeOf(rid, events[i], unknownZone))});
    }

    ReadCalendar out;
    Expansion x{first, last, clock};
    for (int i = 0; i < events.size(); ++i) {
        icalcomponent *ev = events[i];
        const EventProperties &props = properties[i];
        const EventLines where = eventLines.value(i);
        const int line = where.begin;
        clock.check(line);
        clock.progress(30 + int(70LL * i / events.size()));
        if (!props.dtstart)
            throw CalendarFileError(line, QStringLiteral("A VEVENT without DTSTART."));
        if (props.rrule || props.rdate || props.recurrenceId)
            ++out.repeating;
        if (props.status && icalproperty_get_status(props.status) == ICAL_STATUS_CANCELLED) {
            ++out.cancelled;
            continue;
        }
        QByteArray unknownZone;
        const icaltimetype start = timeOf(props.dtstart, ev, unknownZone);
        icaltimetype end = icaltime_null_time();
        if (props.dtend)
            end = timeOf(props.dtend, ev, unknownZone);
        else if (props.duration)
            end = icaltime_add(start, icalproperty_get_duration(props.duration));
        checkTime(start, where, "DTSTART");
        if (!icaltime_is_null_time(end))
            checkTime(end, where, props.dtend ? "DTEND" : "DURATION");
        const bool allDay = start.is_date;
        const QDateTime localStart = toLocal(start);
        int days = 1;
        qint64 seconds = 0;
        if (!icaltime_is_null_time(end)) {
            if (allDay)
                days = int(std::max<qint64>(1, localStart.date().daysTo(toLocal(end).date())));
            else
                seconds = std::max<qint64>(0, localStart.secsTo(toLocal(end)));
        }
        CalendarEvent base;
        base.uid = uidOf(ev, props);
        base.title = textOf(props.summary ? icalproperty_get_summary(props.summary) : nullptr);
        base.description = toStoredLines(textOf(props.description ? icalproperty_get_description(props.description) : nullptr));
        readNotes(props, base);
        base.staffName = staffOf(props);
        base.allDay = allDay;
        auto unknown = [&] {
            out.unknownZone << QStringLiteral("\"%1\" (%2)").arg(base.title, QString::fromUtf8(unknownZone));
        };
        if (!unknownZone.isEmpty()) {
            unknown();
            continue;
        }
        const bool isMove = props.recurrenceId != nullptr;
        const QList<QDateTime> starts =
            occurrenceStarts(ev, props, start, localStart, base.uid, isMove ? Moved() : moved, x, line, unknownZone);
        if (!unknownZone.isEmpty()) {
            unknown();
            continue;
        }
        if (starts.isEmpty())
            ++out.outsideRange;
        for (const QDateTime &s : starts) {
            CalendarEvent e = base;
            e.start = s;
            e.end = allDay ? QDateTime(s.date().addDays(days - 1), QTime(23, 59), Qt::UTC) : s.addSecs(seconds);
            if (e.end.date().year() > 9999)
                throw CalendarFileError(line, QStringLiteral("This entry ends after the year 9999."));
            out.events.append(e);
        }
    }
    clock.progress(100);
    // libical's tree and the file's lines of a large file take a third as long
    // to free as to read: another thread frees them while the caller goes on.
    if (lines.lines.size() >= kLinesWorthTwoParsers) {
        auto leftovers = std::make_shared<Leftovers>(Leftovers{std::move(root), std::move(lines), std::move(kept),
                                                               std::move(events), std::move(properties), std::move(walked)});
        QThreadPool::globalInstance()->start([leftovers = std::move(leftovers)]() mutable {
            // The tree first: freeing the lines' one large block then gathers its
            // freed pieces on this thread, not on the reader's.
            leftovers->root.reset();
            leftovers.reset();
        });
    }
    return out;
}

} // namespace exchange
