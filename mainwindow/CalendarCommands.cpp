#include "mainwindow/CalendarCommands.h"

#include "editor/EventConflict.h"
#include "exchange/CalendarFile.h"
#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "exchange/Repeat.h"
#include "exchange/Summary.h"
#include "exchangewindows/ExchangeDialogs.h"
#include "exchangewindows/WeekPlan.h"
#include "mainwindow/frmEventsMain.h"
#include "model/Calendar.h"
#include "print/BrowserCommands.h"
#include "print/EventReport.h"
#include "print/ReportBrowser.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTimeZone>

#include <algorithm>

namespace {

constexpr int kListedRows = 12;
constexpr int kMostWeeks = 520;
constexpr int kImportWithoutAsking = 1000;

QString rowText(const statements::EventValues &v)
{
    return v.startDate.toString(QStringLiteral("ddd M/d/yyyy ")) + statements::timeText(v.startTime) + QStringLiteral("-")
        + statements::timeText(v.endTime) + QStringLiteral("  ") + v.title;
}

QString listing(const QList<statements::EventValues> &rows)
{
    QStringList lines;
    for (qsizetype i = 0; i < rows.size() && i < kListedRows; ++i)
        lines << rowText(rows[i]);
    if (rows.size() > kListedRows)
        lines << QStringLiteral("... and %1 more").arg(rows.size() - kListedRows);
    return lines.join(QStringLiteral("\r\n"));
}

QAction *addAction(QMenu *menu, QAction *before, const QString &text, const QString &name)
{
    auto *action = new QAction(text, menu);
    action->setObjectName(name);
    menu->insertAction(before, action);
    return action;
}

// Their menu entries are off then; this keeps a call from elsewhere from writing.
bool readOnly(const frmEventsMain &main)
{
    return main.calendar() && main.calendar()->readOnly();
}

} // namespace

CalendarCommands::CalendarCommands(const AppServices &services, frmEventsMain &main)
    : QObject(&main), m_services(services), m_main(main)
{
    setObjectName(QStringLiteral("calendarCommands"));
}

CalendarCommands *CalendarCommands::install(const AppServices &services, frmEventsMain &main, QMenu *file,
                                            QAction *beforeInFile, QMenu *popup)
{
    auto *c = new CalendarCommands(services, main);
    auto wire = [c](QAction *action, void (CalendarCommands::*handler)()) {
        connect(action, &QAction::triggered, c, handler);
    };
    wire(addAction(file, beforeInFile, QStringLiteral("&Export Calendar..."), QStringLiteral("mnuExportCalendar")),
         &CalendarCommands::mnuExportCalendar_Click);
    wire(addAction(file, beforeInFile, QStringLiteral("&Import Calendar..."), QStringLiteral("mnuImportCalendar")),
         &CalendarCommands::mnuImportCalendar_Click);
    wire(addAction(file, beforeInFile, QStringLiteral("Print &Week Plan"), QStringLiteral("mnuPrintWeekPlan")),
         &CalendarCommands::mnuPrintWeekPlan_Click);
    file->insertSeparator(beforeInFile);

    popup->addSeparator();
    wire(addAction(popup, nullptr, QStringLiteral("Print Week Plan"), QStringLiteral("popPrintWeekPlan")),
         &CalendarCommands::mnuPrintWeekPlan_Click);
    wire(addAction(popup, nullptr, QStringLiteral("Repeat Weekly..."), QStringLiteral("popRepeatWeekly")),
         &CalendarCommands::popRepeatWeekly_Click);
    wire(addAction(popup, nullptr, QStringLiteral("Copy Week To..."), QStringLiteral("popCopyWeek")),
         &CalendarCommands::popCopyWeek_Click);
    return c;
}

QDate CalendarCommands::shownFirst() const
{
    return m_main.weekDate().date().addDays(-3);
}

void CalendarCommands::added(store::Connection &conn, const QString &step, const QList<int> &ids)
{
    model::Calendar *calendar = m_main.calendar();
    if (!calendar || ids.isEmpty())
        return;
    QList<model::Calendar::EventWrite> writes;
    writes.reserve(ids.size());
    for (int id : ids)
        writes.append({id, std::nullopt});
    calendar->eventsWritten(conn, step, writes);
}

void CalendarCommands::mnuExportCalendar_Click()
{
    frmCalendarFile dialog(m_services, frmCalendarFile::Mode::Export, shownFirst(), &m_main);
    if (m_services.modal->showModal(dialog) != QDialog::Accepted)
        return;
    QString path = dialog.fileName();
    if (path.isEmpty()) {
        m_services.prompt->critical(&m_main, QStringLiteral("Choose the file to write."));
        return;
    }
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".ics");
    int count = 0;
    try {
        count = exportCalendarFile(m_main.connectionString(), dialog.range(), path);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while reading the events.\r\n") + e.description(),
                                    QString(), e.details());
        return;
    } catch (const CalendarFileWriteError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("The calendar file could not be written.\r\n") + e.text, QString(),
                                    e.reason);
        return;
    }
    m_services.prompt->inform(&m_main, exchange::exportSummary(count, path), QStringLiteral("Export Calendar"));
}

void CalendarCommands::mnuImportCalendar_Click()
{
    if (readOnly(m_main))
        return;
    frmCalendarFile dialog(m_services, frmCalendarFile::Mode::Import, shownFirst(), &m_main);
    if (m_services.modal->showModal(dialog) != QDialog::Accepted)
        return;
    const QString path = dialog.fileName();
    if (path.isEmpty()) {
        m_services.prompt->critical(&m_main, QStringLiteral("The calendar file could not be read.\r\nNo file was chosen."));
        return;
    }
    const exchange::DayRange range = dialog.range().value_or(exchange::DayRange{shownFirst(), shownFirst().addDays(6)});
    const CalendarFileRead file = readCalendarFile(&m_main, path, range);
    if (file.cancelled)
        return;
    if (!file.failure.isEmpty()) {
        m_services.prompt->critical(&m_main, file.failure);
        return;
    }
    const exchange::ReadCalendar &read = file.read;
    if (read.events.size() > kImportWithoutAsking) {
        // Asked as a repeat asks, before anything is written.
        QList<statements::EventValues> rows;
        for (const exchange::CalendarEvent &e : read.events) {
            statements::EventValues v;
            v.title = e.title;
            v.startDate = e.start.date();
            v.startTime = e.start.time();
            v.endTime = e.end.time();
            rows << v;
        }
        if (!m_services.prompt->ask(&m_main, QStringLiteral("Import these %1 events?\r\n").arg(rows.size()) + listing(rows),
                                    QStringLiteral("Import Calendar")))
            return;
    }
    store::Connection conn;
    exchange::ImportResult result;
    try {
        conn.open(m_main.connectionString());
        const QMap<QString, int> staff = exchange::readStaff(conn);
        const QStringList unknown = exchange::unknownStaff(read.events, staff);
        int fallback = 0;
        if (!unknown.isEmpty()) {
            if (staff.isEmpty()) {
                m_services.prompt->critical(&m_main, QStringLiteral("The events need a staff member, and there is none yet. "
                                                                    "Add one under Manage, Coaching Staff.\r\nNothing was imported."));
                return;
            }
            QStringList names = unknown;
            for (QString &n : names)
                n = n.isEmpty() ? QStringLiteral("(no name)") : n;
            frmStaffPick pick(QStringLiteral("No staff member is called %1.\r\nWhose events should those be?")
                                  .arg(names.join(QStringLiteral(", "))),
                              staff, false, &m_main);
            if (m_services.modal->showModal(pick) != QDialog::Accepted)
                return;
            fallback = pick.staffId();
        }
        result = exchange::importEvents(conn, read.events, fallback);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while importing; nothing was imported.\r\n")
                                                 + e.description(), QString(), e.details());
        return;
    }
    added(conn, QStringLiteral("Import Calendar"), result.added);
    conn.close();
    m_services.prompt->inform(&m_main, exchange::importSummary(result, read), QStringLiteral("Import Calendar"));
}

void CalendarCommands::mnuPrintWeekPlan_Click()
{
    exchange::WeekPlanOptions options;
    options.firstDay = shownFirst();
    QList<exchange::StoredEvent> events;
    store::Connection conn;
    try {
        conn.open(m_main.connectionString());
        const QMap<QString, int> staff = exchange::readStaff(conn);
        if (!staff.isEmpty()) {
            frmStaffPick pick(QStringLiteral("Whose events should the week plan show?"), staff, true, &m_main);
            if (m_services.modal->showModal(pick) != QDialog::Accepted)
                return;
            options.staffId = pick.staffId();
            options.staffName = pick.staffName();
        }
        events = exchange::readEvents(conn, exchange::DayRange{options.firstDay, options.firstDay.addDays(6)});
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while loading the record.\r\n") + e.description());
        return;
    }
    conn.close();

    // Its own file: the event report in printEvent.html stays as it is.
    const QString path = exchange::weekPlanPathIn(m_services.programFolder);
    options.styleSheet = ReportBrowser::styleSheetFor(path);
    options.fileUrl = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    frmPrint window(m_services);
    try {
        writeReportFile(path, eventReport::fileBytes(exchange::weekPlanHtml(events, options)));
        window.showWeekPlan(path);
    } catch (const ReportFileError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while writing the week plan.\r\n") + e.description());
        return;
    } catch (const BrowserError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while loading the record.\r\n") + e.description());
        return;
    }
    m_services.modal->showModal(window);
}

void CalendarCommands::createAfterAsking(const QList<statements::EventValues> &rows, const QString &what,
                                         const QString &step, const QList<statements::EventValues> &skipped)
{
    const QString notCopied = skipped.isEmpty()
        ? QString()
        : QStringLiteral("\r\nAlready there, so not copied (%1):\r\n").arg(skipped.size()) + listing(skipped);
    if (rows.isEmpty()) {
        m_services.prompt->inform(&m_main, QStringLiteral("There is nothing to create.") + notCopied, what);
        return;
    }
    // Said in the same question: copies that would double-book their staff member.
    QStringList clashes;
    try {
        store::Connection conn;
        conn.open(m_main.connectionString());
        for (const statements::EventValues &row : rows) {
            store::Event copy;
            copy.values = row;
            const QString said = clashText(copy, store::Events::clashes(conn, copy));
            if (!said.isEmpty())
                clashes << rowText(row) + QStringLiteral(": ") + said;
        }
    } catch (const store::StoreError &) {
        // The write says what is wrong with the calendar.
    }
    QString clashNote;
    if (!clashes.isEmpty()) {
        clashNote = QStringLiteral("\r\nAt the same time as other events of their staff member (%1):\r\n").arg(clashes.size())
            + clashes.mid(0, kListedRows).join(QStringLiteral("\r\n"));
        if (clashes.size() > kListedRows)
            clashNote += QStringLiteral("\r\n... and %1 more").arg(clashes.size() - kListedRows);
    }
    if (!m_services.prompt->ask(&m_main, QStringLiteral("Create these %1 events?\r\n").arg(rows.size()) + listing(rows) + notCopied
                                             + clashNote,
                                what))
        return;
    store::Connection conn;
    QList<int> ids;
    try {
        conn.open(m_main.connectionString());
        ids = exchange::insertEvents(conn, rows);
    } catch (const store::StoreError &e) {
        // Nothing was written, so the week shown is still what is stored.
        conn.close();
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while saving the record; nothing was created.\r\n")
                                                 + e.description(), QString(), e.details());
        return;
    }
    added(conn, step, ids);
}

void CalendarCommands::popRepeatWeekly_Click()
{
    if (readOnly(m_main))
        return;
    const QString title = QStringLiteral("Repeat Weekly");
    std::optional<exchange::StoredEvent> event;
    store::Connection conn;
    try {
        conn.open(m_main.connectionString());
        if (m_main.selectedEventId() != -1)
            event = exchange::readEvent(conn, m_main.selectedEventId());
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while loading the record.\r\n") + e.description());
        return;
    }
    conn.close();
    if (!event) {
        m_services.prompt->inform(&m_main, QStringLiteral("Right-click the event to repeat first."), title);
        return;
    }
    const std::optional<QString> answer = m_services.prompt->input(
        &m_main, QStringLiteral("Repeat \"%1\" for how many weeks? Or until which date (M/D/YYYY)?").arg(event->values.title),
        title, QStringLiteral("4"));
    if (!answer)
        return;
    bool isNumber = false;
    const int weeks = answer->trimmed().toInt(&isNumber);
    const QDate until = QDate::fromString(answer->trimmed(), QStringLiteral("M/d/yyyy"));
    QList<statements::EventValues> rows;
    if (isNumber && weeks >= 1 && weeks <= kMostWeeks)
        rows = exchange::weeklyCopies(event->values, weeks);
    else if (!isNumber && until.isValid() && until <= event->values.startDate.addDays(7 * kMostWeeks))
        rows = exchange::weeklyCopiesUntil(event->values, until);
    else {
        m_services.prompt->critical(&m_main, QStringLiteral("Give a number of weeks from 1 to %1, or a date as M/D/YYYY.").arg(kMostWeeks),
                                    title);
        return;
    }
    createAfterAsking(rows, title, QStringLiteral("Repeat"));
}

void CalendarCommands::popCopyWeek_Click()
{
    if (readOnly(m_main))
        return;
    const QString title = QStringLiteral("Copy Week To");
    const QDate shownMiddle = m_main.weekDate().date();
    const std::optional<QString> answer = m_services.prompt->input(
        &m_main, QStringLiteral("Copy the seven shown days to the seven days around which date (M/D/YYYY)?"), title,
        shownMiddle.addDays(7).toString(QStringLiteral("M/d/yyyy")));
    if (!answer)
        return;
    const QDate target = QDate::fromString(answer->trimmed(), QStringLiteral("M/d/yyyy"));
    if (!target.isValid() || target == shownMiddle) {
        m_services.prompt->critical(&m_main, QStringLiteral("Give another date than the shown one, as M/D/YYYY."), title);
        return;
    }
    QList<statements::EventValues> week;
    QList<statements::EventValues> there;
    store::Connection conn;
    try {
        conn.open(m_main.connectionString());
        for (const exchange::StoredEvent &e : exchange::readEvents(conn, exchange::DayRange{shownFirst(), shownFirst().addDays(6)}))
            week.append(e.values);
        const QDate targetFirst = target.addDays(-3);
        for (const exchange::StoredEvent &e : exchange::readEvents(conn, exchange::DayRange{targetFirst, targetFirst.addDays(6)}))
            there.append(e.values);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("An error occured while loading the record.\r\n") + e.description());
        return;
    }
    conn.close();
    // An event the target already holds (same title, start and staff member) is not made twice.
    auto present = [&there](const statements::EventValues &v) {
        return std::any_of(there.cbegin(), there.cend(), [&v](const statements::EventValues &t) {
            return t.title == v.title && t.startDate == v.startDate && t.startTime == v.startTime && t.staffId == v.staffId;
        });
    };
    QList<statements::EventValues> copies, skipped;
    for (const statements::EventValues &v : exchange::shiftedCopies(week, shownMiddle.daysTo(target)))
        (present(v) ? skipped : copies).append(v);
    createAfterAsking(copies, title, QStringLiteral("Copy Week"), skipped);
}
