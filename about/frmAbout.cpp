#include "about/frmAbout.h"

#include "store/Engine.h"

#include "about/DesktopServices.h"
#include "about/RegistryReader.h"
#include "ui/Prompt.h"

#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>

#include <cmath>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
constexpr double kPi = 3.14159265358979323846;

// The layout is in pixels for an 8.25-point MS Sans Serif; where that is
// missing, a sans serif of similar width keeps the texts inside their labels.
QFont designFont(double points, bool bold = false, bool italic = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// A calendar sheet on a strip of pitch, with a ball on today.
QPixmap aboutLogo()
{
    const QSize size(100, 108);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(46, 125, 50));
    p.drawRoundedRect(QRectF(2, 10, 96, 96), 8, 8);
    p.setBrush(QColor(56, 142, 60));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(8 + i * 22, 40, 11, 60));

    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(27, 94, 32), 1));
    const QRectF sheet(12, 20, 76, 78);
    p.drawRect(sheet);
    p.setBrush(QColor(27, 94, 32));
    p.drawRect(QRectF(sheet.left(), sheet.top(), sheet.width(), 16));
    // Binder rings.
    p.setBrush(QColor(200, 200, 200));
    p.setPen(QPen(QColor(90, 90, 90), 1));
    for (qreal x : {28.0, 72.0})
        p.drawRoundedRect(QRectF(x - 3, 12, 6, 14), 3, 3);

    p.setPen(QPen(QColor(160, 160, 160), 1));
    const qreal cellW = sheet.width() / 5, cellH = (sheet.height() - 16) / 4;
    for (int c = 1; c < 5; ++c)
        p.drawLine(QPointF(sheet.left() + c * cellW, sheet.top() + 16), QPointF(sheet.left() + c * cellW, sheet.bottom()));
    for (int r = 1; r < 4; ++r)
        p.drawLine(QPointF(sheet.left(), sheet.top() + 16 + r * cellH), QPointF(sheet.right(), sheet.top() + 16 + r * cellH));

    // Today: a ball in the third cell of the second row.
    const QPointF ball(sheet.left() + 2.5 * cellW, sheet.top() + 16 + 1.5 * cellH);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawEllipse(ball, 6.5, 6.5);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    QPainterPath patch;
    for (int i = 0; i < 5; ++i) {
        const qreal angle = (-90 + i * 72) * kPi / 180.0;
        const QPointF corner(ball.x() + 2.6 * std::cos(angle), ball.y() + 2.6 * std::sin(angle));
        i == 0 ? patch.moveTo(corner) : patch.lineTo(corner);
    }
    patch.closeSubpath();
    p.drawPath(patch);
    return pixmap;
}

QLabel *addLabel(QWidget *parent, const char *name, const QRect &geometry, const QFont &font)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

frmAbout::frmAbout(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmAbout"));
    setFont(designFont(8.25));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    // 20 pixels taller than the design for the line that says where the data is.
    setFixedSize(400, 318);
    createControls();
    Form_Load();
}

void frmAbout::createControls()
{
    auto *picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(8, 8, 104, 112);
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(aboutLogo());

    m_lblTitle = addLabel(this, "lblTitle", QRect(132, 8, 259, 32), designFont(15.75, true));
    m_lblVersion = addLabel(this, "lblVersion", QRect(132, 44, 259, 15), designFont(8.25));
    m_lblDescription = addLabel(this, "lblDescription", QRect(132, 67, 259, 62), designFont(8.25));

    addLabel(this, "Label2", QRect(8, 128, 57, 25), designFont(13.5, true))->setText(QStringLiteral("Pitch"));
    addLabel(this, "Label3", QRect(8, 152, 65, 25), designFont(13.5, true))->setText(QStringLiteral("Side"));
    addLabel(this, "Label4", QRect(16, 176, 65, 25), designFont(8.25, true, true))->setText(QStringLiteral("Software"));

    QFont linkFont = designFont(8.25);
    linkFont.setUnderline(true);
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_lblWebsite = addLabel(this, "lblWebsite", QRect(132, 136, 103, 32), linkFont);
    m_lblWebsite->setText(QStringLiteral("orvenna.example"));
    m_lblEmail = addLabel(this, "lblEmail", QRect(268, 136, 123, 32), linkFont);
    m_lblEmail->setText(QStringLiteral("help@orvenna.example"));
    for (QLabel *link : {m_lblWebsite, m_lblEmail}) {
        link->setPalette(linkPalette);
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    QLabel *disclaimer = addLabel(this, "lblDisclaimer", QRect(8, 200, 381, 63), designFont(8.25));
    disclaimer->setWordWrap(true);
    disclaimer->setText(QStringLiteral(
        "Warning: this program is protected by copyright law. Copying it or passing it on, in whole or in part, "
        "without the written permission of PitchSide Software is not allowed and may lead to civil and "
        "criminal penalties."));

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(8, 268, 180, 23);
    m_cmdOK->setDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    m_cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setGeometry(208, 268, 185, 23);
    connect(m_cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    m_lblDataFolder = addLabel(this, "lblDataFolder", QRect(8, 297, 384, 15), designFont(8.25));

    setTabOrder(m_cmdOK, m_cmdSysInfo);
    m_cmdOK->setFocus();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About Orvenna"));
    m_lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                              .arg(ORVENNA_VERSION_MAJOR)
                              .arg(ORVENNA_VERSION_MINOR)
                              .arg(ORVENNA_VERSION_PATCH));
    m_lblTitle->setText(QStringLiteral("Orvenna"));
    m_lblDescription->setText(QStringList{QStringLiteral("Windows 95/98/ME/NT/XP"), QString(),
                                          QStringLiteral("Copyright (C) 2026 PitchSide Software"),
                                          QStringLiteral("Distributed by PitchSide Software")}
                                  .join(kCrLf));
    showCalendarInUse();
}

void frmAbout::showCalendarInUse()
{
    // A shared calendar lives on its server, not in the program's folder.
    const QString where = m_services.database.isEmpty() ? QDir::toNativeSeparators(m_services.programFolder)
                                                         : store::withoutPassword(m_services.database.trimmed());
    const QString line = m_services.database.isEmpty() ? QStringLiteral("Your calendar is kept in %1").arg(where)
                                                       : QStringLiteral("Your shared calendar: %1").arg(where);
    m_lblDataFolder->setText(
        m_lblDataFolder->fontMetrics().elidedText(line, Qt::ElideMiddle, m_lblDataFolder->width()));
    m_lblDataFolder->setToolTip(where);
}

frmAbout *frmAbout::showShared(const AppServices &services)
{
    static QPointer<frmAbout> instance;
    if (!instance) {
        instance = new frmAbout(services);
        instance->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        // The calendar in use may have changed since it was loaded.
        instance->m_services = services;
        instance->showCalendarInUse();
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance;
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::lblEmail_Click()
{
    desktop().openUrl(QStringLiteral("mailto:") + m_lblEmail->text());
}

void frmAbout::lblWebsite_Click()
{
    desktop().openUrl(QStringLiteral("http://") + m_lblWebsite->text());
}

QStringList frmAbout::systemInfoPrograms()
{
    return {QStringLiteral("gnome-system-monitor"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("xfce4-taskmanager"), QStringLiteral("lxtask")};
}

void frmAbout::StartSysInfo()
{
    DesktopServices &d = desktop();
    const auto unavailable = [this] {
        m_services.prompt->message(this, QStringLiteral("System Information Is Unavailable At This Time"),
                                   Prompt::Icon::None, Prompt::Buttons::Ok);
    };

    if (RegistryReader *reg = d.registry()) {
        QString path;
        if (GetKeyValue(*reg, registry::kLocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                        QStringLiteral("PATH"), path)) {
            // The path read is trusted as it is; starting it tells whether it was right.
        } else if (GetKeyValue(*reg, registry::kLocalMachine,
                               QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"), QStringLiteral("MSINFO"),
                               path)) {
            path += QStringLiteral("\\MSINFO32.EXE");
            if (!d.fileExists(path)) {
                unavailable();
                return;
            }
        } else {
            unavailable();
            return;
        }
        if (!d.startProgram(path))
            unavailable();
        return;
    }

    for (const QString &name : systemInfoPrograms()) {
        const QString path = d.findOnPath(name);
        if (!path.isEmpty() && d.startProgram(path))
            return;
    }
    unavailable();
}

DesktopServices &frmAbout::desktop() const
{
    return m_services.desktop ? *m_services.desktop : DesktopServices::system();
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && (watched == m_lblEmail || watched == m_lblWebsite)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = static_cast<QLabel *>(watched);
        // A click is a release of the left button over the label it was pressed on.
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            if (watched == m_lblEmail)
                lblEmail_Click();
            else
                lblWebsite_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(8, 184, 378, 184);
    p.setPen(QPen(QColor(128, 128, 128), 1));
    p.drawLine(8, 192, 392, 192);
}
