#!/usr/bin/python3
# phone.py CALENDAR_URL USER PASSWORD CAFILE COMMAND [ARGS]
# An independent CalDAV client (python3-caldav) that does to a server calendar
# what a phone does: lists its events as JSON, adds, changes and deletes them.
#   list
#   add UID SUMMARY START END [RRULE] [ORGANIZER_NAME]   (times as YYYY-MM-DDTHH:MM, UTC)
#   set UID summary|description|start VALUE             (start moves the event, keeping its length)
#   delete UID
import datetime
import json
import sys

import caldav
import icalendar

url, user, password, cafile, command = sys.argv[1:6]
args = sys.argv[6:]
client = caldav.DAVClient(url, username=user or None, password=password or None,
                          ssl_verify_cert=cafile if cafile else True)
calendar = client.calendar(url=url)


def utc(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M").replace(tzinfo=datetime.timezone.utc)


def shown(value):
    dt = value.dt
    if isinstance(dt, datetime.datetime):
        if dt.tzinfo is not None:
            dt = dt.astimezone(datetime.timezone.utc)
        return dt.strftime("%Y-%m-%dT%H:%M")
    return dt.isoformat()


def entries():
    out = []
    for event in calendar.events():
        event.load()
        for comp in icalendar.Calendar.from_ical(event.data).walk("VEVENT"):
            alarm = None
            for a in comp.walk("VALARM"):
                trigger = a.get("TRIGGER")
                alarm = int(trigger.dt.total_seconds() // 60) if trigger is not None else None
                action = str(a.get("ACTION"))
            out.append({
                "uid": str(comp.get("UID")),
                "summary": str(comp.get("SUMMARY", "")),
                "description": str(comp.get("DESCRIPTION", "")),
                "contact": str(comp.get("CONTACT", "")),
                "start": shown(comp.get("DTSTART")),
                "end": shown(comp.get("DTEND")) if comp.get("DTEND") is not None else "",
                "alarm": alarm,
                "alarmAction": action if alarm is not None else "",
                "repeats": comp.get("RRULE") is not None,
                "href": str(event.url),
            })
    out.sort(key=lambda e: (e["uid"], e["start"]))
    return out


if command == "list":
    print(json.dumps(entries()))
elif command == "add":
    uid, summary, start, end = args[:4]
    cal = icalendar.Calendar()
    cal.add("prodid", "-//phone//test//EN")
    cal.add("version", "2.0")
    ev = icalendar.Event()
    ev.add("uid", uid)
    ev.add("dtstamp", datetime.datetime.now(datetime.timezone.utc))
    ev.add("summary", summary)
    ev.add("dtstart", utc(start))
    ev.add("dtend", utc(end))
    if len(args) > 4 and args[4]:
        ev.add("rrule", icalendar.vRecur.from_ical(args[4]))
    if len(args) > 5 and args[5]:
        organizer = icalendar.vCalAddress("mailto:coach@example.org")
        organizer.params["cn"] = icalendar.vText(args[5])
        ev["organizer"] = organizer
    cal.add_component(ev)
    calendar.save_event(cal.to_ical().decode())
elif command == "set":
    uid, field, value = args
    event = calendar.event_by_uid(uid)
    event.load()
    cal = icalendar.Calendar.from_ical(event.data)
    for comp in cal.walk("VEVENT"):
        if field == "start":
            length = comp.decoded("DTEND") - comp.decoded("DTSTART")
            del comp["DTSTART"]
            del comp["DTEND"]
            comp.add("dtstart", utc(value))
            comp.add("dtend", utc(value) + length)
        else:
            comp.pop(field.upper(), None)
            comp.add(field, value)
    event.data = cal.to_ical().decode()
    event.save()
elif command == "delete":
    calendar.event_by_uid(args[0]).delete()
else:
    sys.exit("unknown command " + command)
