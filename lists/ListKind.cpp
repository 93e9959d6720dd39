#include "lists/ListKind.h"

#include "model/Calendar.h"
#include "store/StaffMembers.h"
#include "store/Templates.h"

const ListKind &ListKind::templates()
{
    static const ListKind kind = [] {
        ListKind k;
        k.windowName = QStringLiteral("frmPredefinedEvents");
        k.caption = QStringLiteral("Pre-Defined Activity or Drill");
        k.comboName = QStringLiteral("cmbPredefinedEvents");
        k.label1Text = QStringLiteral("Activity or Drill");
        k.label2Text = QStringLiteral("Description");
        k.readEntries = [](store::Connection &conn, const EachEntry &each) {
            store::Templates::readAll(conn, [&each](const store::Template &t) { each(t.id, t.title); });
        };
        k.readText = [](store::Connection &conn, int id) -> std::optional<QString> {
            if (const std::optional<store::Template> t = store::Templates::readOne(conn, id))
                return t->description;
            return std::nullopt;
        };
        k.insertRow = &store::Templates::insert;
        k.updateRow = &store::Templates::update;
        k.deleteRow = &store::Templates::remove;
        k.tellChanged = &model::Calendar::tellTemplates;
        k.table = model::Table::Templates;
        k.stepNoun = QStringLiteral("Activity");
        k.clientSize = QSize(410, 255);
        k.label1 = QRect(8, 32, 89, 17);
        k.combo = QRect(88, 32, 313, 0);
        k.label2 = QRect(8, 56, 73, 17);
        k.description = QRect(8, 72, 393, 177);
        k.descriptionTab = 0;
        k.comboTab = 1;
        k.toolbarTab = 2;
        k.addNewText = QStringLiteral(
            "Insert someting describing the type of activity or drill, purpose, equipment used, and other "
            "Descriptive information needed to ensure a successful participation.");
        k.emptyTitleMessage = QStringLiteral("Events must have a title");
        k.deleteQuestionStart = QStringLiteral("Are you sure you want to delete predefined event '");
        k.duplicateQuestion = QStringLiteral("There is already an activity or drill titled '%1'.\r\n"
                                             "Do you want to add another one with the same title?");
        return k;
    }();
    return kind;
}

const ListKind &ListKind::staff()
{
    static const ListKind kind = [] {
        ListKind k;
        k.windowName = QStringLiteral("frmPOC");
        k.caption = QStringLiteral("Staff Members");
        k.comboName = QStringLiteral("cmbPOC");
        k.label1Text = QStringLiteral("Staff Member Name");
        k.label2Text = QStringLiteral("Notes");
        k.readEntries = [](store::Connection &conn, const EachEntry &each) {
            store::StaffMembers::readAll(conn, [&each](const store::StaffMember &s) { each(s.id, s.name); });
        };
        k.readText = [](store::Connection &conn, int id) -> std::optional<QString> {
            if (const std::optional<store::StaffMember> s = store::StaffMembers::readOne(conn, id))
                return s->notes;
            return std::nullopt;
        };
        k.insertRow = &store::StaffMembers::insert;
        k.updateRow = &store::StaffMembers::update;
        k.deleteRow = &store::StaffMembers::remove;
        k.tellChanged = &model::Calendar::tellStaff;
        k.table = model::Table::Staff;
        k.stepNoun = QStringLiteral("Staff Member");
        k.countUses = &store::StaffMembers::eventsNaming;
        k.clientSize = QSize(367, 225);
        k.label1 = QRect(8, 32, 105, 17);
        k.combo = QRect(120, 32, 241, 0);
        k.label2 = QRect(8, 56, 41, 17);
        k.description = QRect(8, 72, 353, 145);
        k.comboTab = 0;
        k.descriptionTab = 1;
        k.toolbarTab = 2;
        k.addNewText = QString();
        k.emptyTitleMessage = QStringLiteral("Staff members must have a name");
        k.deleteQuestionStart = QStringLiteral("Are you sure you want to delete staff member '");
        k.inUseNote = [](int uses) {
            return uses == 1 ? QStringLiteral("1 event names this staff member; it cannot be printed until another "
                                              "staff member is picked for it in the event's window.")
                             : QStringLiteral("%1 events name this staff member; they cannot be printed until another "
                                              "staff member is picked for them in the events' windows.")
                                   .arg(uses);
        };
        k.duplicateQuestion = QStringLiteral("There is already a staff member named '%1'.\r\n"
                                             "Do you want to add another one with the same name?");
        return k;
    }();
    return kind;
}
