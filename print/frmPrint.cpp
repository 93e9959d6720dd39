#include "print/frmPrint.h"

#include "print/BrowserCommands.h"
#include "print/PrintPictures.h"
#include "print/ReportBrowser.h"
#include "print/mdlEventsGlobals.h"
#include "ui/ActiveResize.h"
#include "ui/Prompt.h"

#include <QFont>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <cmath>
#include <optional>

namespace {

constexpr int kTwipsPerPixel = 15;

QRect fromTwips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

// A caption too wide for the narrow button column wraps onto two lines, as
// the classic command buttons did.
class WrappingButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        p.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, option.palette, isEnabled(), caption,
                       QPalette::ButtonText);
    }
};

// Browser failures do not stop a print method; the last one is kept.
class FailureRecord
{
public:
    template <typename Operation>
    void attempt(Operation &&operation)
    {
        try {
            operation();
        } catch (const BrowserError &e) {
            m_failed = true;
            m_description = e.description();
        }
    }
    [[nodiscard]] bool failed() const { return m_failed; }
    [[nodiscard]] QString description() const { return m_description; }
    [[nodiscard]] bool permissionDenied() const
    {
        return m_failed && m_description.toUpper() == QLatin1String("PERMISSION DENIED");
    }

private:
    bool m_failed = false;
    QString m_description;
};

// The number a text begins with; nothing when it begins with none.
std::optional<double> leadingNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral(R"(^\s*([+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?))"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = m.captured(1).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void execWithEmptyTexts(BrowserCommands &browser, int cmd, int option)
{
    QString out;
    browser.exec(cmd, option, QString(), out);
}

} // namespace

frmPrint::frmPrint(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmPrint"));
    setWindowTitle(QStringLiteral("Print"));
    setWindowIcon(QIcon(printerPicture()));
    createControls();
}

frmPrint::~frmPrint() = default;

void frmPrint::createControls()
{
    QFont captionFont(QStringLiteral("Arial"));
    captionFont.setPointSizeF(8.25);

    m_cmdPrint = new QPushButton(this);
    m_cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    m_cmdPrint->setGeometry(fromTwips(0, 120, 615, 555));
    m_cmdPrint->setIcon(QIcon(printerPicture()));
    m_cmdPrint->setIconSize(QSize(27, 27));
    m_cmdPrint->setToolTip(QStringLiteral("Print Report"));
    m_cmdPrint->setAccessibleName(m_cmdPrint->toolTip());

    m_cmdPrintPreview = new QPushButton(this);
    m_cmdPrintPreview->setObjectName(QStringLiteral("cmdPrintPreview"));
    m_cmdPrintPreview->setGeometry(fromTwips(0, 720, 615, 555));
    m_cmdPrintPreview->setIcon(QIcon(magnifierPicture()));
    m_cmdPrintPreview->setIconSize(QSize(16, 16));
    m_cmdPrintPreview->setToolTip(QStringLiteral("Print Preview"));
    m_cmdPrintPreview->setAccessibleName(m_cmdPrintPreview->toolTip());

    m_cmdPageSetup = new WrappingButton(QStringLiteral("Page Setup"), this);
    m_cmdPageSetup->setObjectName(QStringLiteral("cmdPageSetup"));
    m_cmdPageSetup->setGeometry(fromTwips(0, 1320, 615, 555));
    m_cmdPageSetup->setFont(captionFont);

    m_cmdAddEvent = new WrappingButton(QStringLiteral("Add Event"), this);
    m_cmdAddEvent->setObjectName(QStringLiteral("cmdAddEvent"));
    m_cmdAddEvent->setGeometry(fromTwips(0, 2280, 615, 555));
    m_cmdAddEvent->setFont(captionFont);

    ReportBrowserFactory realBrowsers;
    BrowserFactory *browsers = m_services.browsers ? m_services.browsers : &realBrowsers;
    m_WebBrowser1 = browsers->create(this);
    QWidget *view = m_WebBrowser1->widget();
    view->setObjectName(QStringLiteral("WebBrowser1"));
    view->setGeometry(fromTwips(720, 120, 8415, 5895));

    setTabOrder(m_cmdPageSetup, m_cmdPrintPreview);
    setTabOrder(m_cmdPrintPreview, m_cmdPrint);
    setTabOrder(m_cmdPrint, m_cmdAddEvent);
    setTabOrder(m_cmdAddEvent, view);

    const QSize design(9285 / kTwipsPerPixel, 6120 / kTwipsPerPixel);
    resize(design);
    m_ActiveResize1 = new ActiveResize(this, design);
    m_ActiveResize1->setObjectName(QStringLiteral("ActiveResize1"));
    for (QWidget *control : {static_cast<QWidget *>(m_cmdPrint), static_cast<QWidget *>(m_cmdPrintPreview),
                             static_cast<QWidget *>(m_cmdPageSetup), static_cast<QWidget *>(m_cmdAddEvent), view})
        m_ActiveResize1->add(control);

    connect(m_cmdPrint, &QPushButton::clicked, this, &frmPrint::frmPrint_cmdPrint_Click);
    connect(m_cmdPrintPreview, &QPushButton::clicked, this, &frmPrint::frmPrint_cmdPrintPreview_Click);
    connect(m_cmdPageSetup, &QPushButton::clicked, this, &frmPrint::frmPrint_cmdPageSetup_Click);
    connect(m_cmdAddEvent, &QPushButton::clicked, this, &frmPrint::frmPrint_cmdAddEvent_Click);
}

void frmPrint::frmPrint_Form_Load()
{
    m_WebBrowser1->navigate(mdlEventsGlobals::reportPath);
    mdlEventsGlobals::addToReport = false;
    m_pageSet = false;
}

void frmPrint::showWeekPlan(const QString &path)
{
    setWindowTitle(QStringLiteral("Print Week Plan"));
    m_cmdAddEvent->setVisible(false);
    m_WebBrowser1->navigate(path);
    m_WebBrowser1->setLandscape();
}

void frmPrint::frmPrint_cmdPrint_Click()
{
    printSelection(*m_WebBrowser1);
}

void frmPrint::frmPrint_cmdPrintPreview_Click()
{
    printPreview(*m_WebBrowser1);
}

void frmPrint::frmPrint_cmdPageSetup_Click()
{
    printPageSetup(*m_WebBrowser1);
}

void frmPrint::frmPrint_cmdAddEvent_Click()
{
    mdlEventsGlobals::addToReport = true;
    m_services.prompt->inform(this,
                              QStringLiteral("From the main window, select another event and then select the print "
                                             "feature again."),
                              QStringLiteral("Multi-Print Feature"));
    close();
}

void frmPrint::disabledNotice()
{
    m_services.prompt->message(this, QStringLiteral("The Print command is currently disabled."), Prompt::Icon::None,
                               Prompt::Buttons::Ok);
}

void frmPrint::printPreview(BrowserCommands &selectedObject)
{
    FailureRecord record;
    record.attempt([&] { selectedObject.exec(OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_PROMPTUSER); });
    quint32 status = 0;
    record.attempt([&] { status = selectedObject.queryStatus(OLECMDID_PRINTPREVIEW); });
    if (!record.failed()) {
        if (status & OLECMDF_ENABLED)
            record.attempt([&] { execWithEmptyTexts(selectedObject, OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_PROMPTUSER); });
        else
            disabledNotice();
    }
    if (record.failed()) {
        if (record.permissionDenied())
            record.attempt([&] { selectedObject.exec(OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_DONTPROMPTUSER); });
        else
            m_services.prompt->message(this, QStringLiteral("Print command Error: ") + record.description(),
                                       Prompt::Icon::None, Prompt::Buttons::Ok);
    }
}

void frmPrint::printPageSetup(BrowserCommands &selectedObject)
{
    FailureRecord record;
    quint32 status = 0;
    record.attempt([&] { status = selectedObject.queryStatus(OLECMDID_PAGESETUP); });
    if (record.failed())
        return;
    if (status & OLECMDF_ENABLED) {
        record.attempt([&] { execWithEmptyTexts(selectedObject, OLECMDID_PAGESETUP, OLECMDEXECOPT_PROMPTUSER); });
        m_pageSet = true;
    } else {
        disabledNotice();
    }
}

void frmPrint::printSelection(BrowserCommands &selectedObject)
{
    if (!m_pageSet
        && m_services.prompt->message(this, QStringLiteral("The Page has not yet been set. Would you stil like to print?"),
                                      Prompt::Icon::None, Prompt::Buttons::YesNo)
               == Prompt::Answer::No)
        return;

    FailureRecord record;
    quint32 status = 0;
    record.attempt([&] { status = selectedObject.queryStatus(OLECMDID_PRINT); });
    if (!record.failed()) {
        if (status & OLECMDF_ENABLED)
            record.attempt([&] { execWithEmptyTexts(selectedObject, OLECMDID_PRINT, OLECMDEXECOPT_PROMPTUSER); });
        else
            disabledNotice();
    }
    if (record.permissionDenied()) {
        const std::optional<QString> text =
            m_services.prompt->input(this, QStringLiteral("Number of Copies:"), QStringLiteral("Print"),
                                     QStringLiteral("0"), QPoint(500 / kTwipsPerPixel, 500 / kTwipsPerPixel));
        if (!text)
            return;
        const std::optional<double> value = leadingNumber(*text);
        if (!value || *value <= 0) {
            m_services.prompt->message(this, QStringLiteral("wrong argument...can not pass string for print copies."),
                                       Prompt::Icon::None, Prompt::Buttons::Ok);
            return;
        }
        // Halves go to the even neighbour; counts beyond a 16-bit number print nothing.
        const double rounded = std::nearbyint(*value);
        const int copies = rounded <= 32767.0 ? int(rounded) : 0;
        for (int i = 0; i < copies; ++i)
            record.attempt([&] { selectedObject.exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER); });
    }
    if (record.failed() && !record.permissionDenied())
        m_services.prompt->message(this, QStringLiteral("Print command Error: ") + record.description(),
                                   Prompt::Icon::None, Prompt::Buttons::Ok);
}
