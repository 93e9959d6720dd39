#include "exchangewindows/ExchangeDialogs.h"

#include "ui/ModalRunner.h"
#include "ui/TypedPicker.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>

frmCalendarFile::frmCalendarFile(const AppServices &services, Mode mode, const QDate &shownFirst, QWidget *parent)
    : QDialog(parent), m_services(services), m_mode(mode), m_shownFirst(shownFirst)
{
    const bool exporting = mode == Mode::Export;
    setObjectName(exporting ? QStringLiteral("frmExportCalendar") : QStringLiteral("frmImportCalendar"));
    setWindowTitle(exporting ? QStringLiteral("Export Calendar") : QStringLiteral("Import Calendar"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(exporting ? QStringLiteral("Events to export:") : QStringLiteral("Events to import, by their start:"), this));
    m_optWeek = new QRadioButton(QStringLiteral("The shown week"), this);
    m_optWeek->setObjectName(QStringLiteral("optWeek"));
    m_optMonth = new QRadioButton(QStringLiteral("This month"), this);
    m_optMonth->setObjectName(QStringLiteral("optMonth"));
    m_optFromTo = new QRadioButton(QStringLiteral("From - to:"), this);
    m_optFromTo->setObjectName(QStringLiteral("optFromTo"));
    m_optAll = new QRadioButton(QStringLiteral("All events"), this);
    m_optAll->setObjectName(QStringLiteral("optAll"));
    m_optAll->setVisible(exporting);
    m_dtFrom = new TypedPicker<QDateEdit>(this);
    m_dtFrom->setDate(shownFirst);
    m_dtFrom->setObjectName(QStringLiteral("dtFrom"));
    m_dtTo = new TypedPicker<QDateEdit>(this);
    m_dtTo->setDate(exporting ? shownFirst.addDays(6) : shownFirst.addMonths(3).addDays(-1));
    m_dtTo->setObjectName(QStringLiteral("dtTo"));
    for (QDateEdit *edit : {m_dtFrom, m_dtTo}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("ddd M/dd/yyyy"));
    }
    auto *fromTo = new QHBoxLayout;
    fromTo->addWidget(m_optFromTo);
    fromTo->addWidget(m_dtFrom);
    fromTo->addWidget(m_dtTo);
    layout->addWidget(m_optWeek);
    layout->addWidget(m_optMonth);
    layout->addLayout(fromTo);
    layout->addWidget(m_optAll);
    (exporting ? m_optWeek : m_optFromTo)->setChecked(true);

    auto *file = new QHBoxLayout;
    m_txtFile = new QLineEdit(this);
    m_txtFile->setObjectName(QStringLiteral("txtFile"));
    auto *cmdBrowse = new QPushButton(QStringLiteral("..."), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    connect(cmdBrowse, &QPushButton::clicked, this, &frmCalendarFile::cmdBrowse_Click);
    file->addWidget(new QLabel(QStringLiteral("File:"), this));
    file->addWidget(m_txtFile, 1);
    file->addWidget(cmdBrowse);
    layout->addLayout(file);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setText(exporting ? QStringLiteral("Export") : QStringLiteral("Import"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void frmCalendarFile::setRange(Range range)
{
    switch (range) {
    case Range::ThisWeek: m_optWeek->setChecked(true); break;
    case Range::ThisMonth: m_optMonth->setChecked(true); break;
    case Range::FromTo: m_optFromTo->setChecked(true); break;
    case Range::All: m_optAll->setChecked(true); break;
    }
}

void frmCalendarFile::setFromTo(const QDate &first, const QDate &last)
{
    m_dtFrom->setDate(first);
    m_dtTo->setDate(last);
    m_optFromTo->setChecked(true);
}

void frmCalendarFile::setFileName(const QString &path)
{
    m_txtFile->setText(path);
}

QString frmCalendarFile::fileName() const
{
    return m_txtFile->text().trimmed();
}

std::optional<exchange::DayRange> frmCalendarFile::range() const
{
    if (m_optWeek->isChecked())
        return exchange::DayRange{m_shownFirst, m_shownFirst.addDays(6)};
    if (m_optMonth->isChecked()) {
        // The month of the shown week's middle day, the date picked.
        const QDate middle = m_shownFirst.addDays(3);
        const QDate first(middle.year(), middle.month(), 1);
        return exchange::DayRange{first, first.addMonths(1).addDays(-1)};
    }
    if (m_optFromTo->isChecked())
        return exchange::DayRange{std::min(m_dtFrom->date(), m_dtTo->date()), std::max(m_dtFrom->date(), m_dtTo->date())};
    return std::nullopt;
}

void frmCalendarFile::cmdBrowse_Click()
{
    const QString start = fileName().isEmpty() ? QDir::homePath() : fileName();
    QFileDialog dialog(this, windowTitle(), start, QStringLiteral("iCalendar files (*.ics);;All files (*)"));
    dialog.setObjectName(QStringLiteral("dlgCalendarFile"));
    if (m_mode == Mode::Export) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("ics"));
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (m_services.modal->showModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        m_txtFile->setText(dialog.selectedFiles().first());
}

frmStaffPick::frmStaffPick(const QString &question, const QMap<QString, int> &staff, bool offerAll, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmStaffPick"));
    setWindowTitle(QStringLiteral("Coaching Staff"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(question, this);
    label->setObjectName(QStringLiteral("lblQuestion"));
    label->setWordWrap(true);
    layout->addWidget(label);
    m_cmbPOC = new QComboBox(this);
    m_cmbPOC->setObjectName(QStringLiteral("cmbPOC"));
    if (offerAll)
        m_cmbPOC->addItem(QStringLiteral("All staff members"), 0);
    for (auto it = staff.cbegin(); it != staff.cend(); ++it)
        m_cmbPOC->addItem(it.key(), it.value());
    layout->addWidget(m_cmbPOC);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void frmStaffPick::selectStaff(int staffId)
{
    m_cmbPOC->setCurrentIndex(std::max(0, m_cmbPOC->findData(staffId)));
}

int frmStaffPick::staffId() const
{
    return m_cmbPOC->currentData().toInt();
}

QString frmStaffPick::staffName() const
{
    return m_cmbPOC->currentText();
}

CalendarFileRead readCalendarFile(QWidget *parent, const QString &path, const exchange::DayRange &range)
{
    std::atomic<bool> cancel{false};
    std::atomic<int> percent{0};
    CalendarFileRead out;
    QThread *thread = QThread::create([&] {
        exchange::ReadControl control;
        control.cancel = &cancel;
        control.percent = &percent;
        out = readCalendarFile(path, range, control);
    });
    QProgressDialog progress(QStringLiteral("Reading %1 ...").arg(QDir::toNativeSeparators(path)), QStringLiteral("Cancel"), 0,
                             100, parent);
    progress.setObjectName(QStringLiteral("dlgImportProgress"));
    progress.setWindowTitle(QStringLiteral("Import Calendar"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(400);
    QObject::connect(&progress, &QProgressDialog::canceled, [&cancel] { cancel = true; });
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] { progress.setValue(percent.load()); });
    tick.start(100);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
    return out;
}
