#include "print/ReportBrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinterInfo>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {
// Printers give the edge of what they can reach as their margins, often a few
// millimetres; a page is laid out with at least this much around it.
constexpr qreal kLeastMarginMm = 12;
// Events shown before the window first paints; each is a printed page.
constexpr int kFirstEvents = 2;

// Qt lays out a table cell whole, and again for the tables around it (the
// report nests four), so one long text in a cell costs seconds per megabyte
// before anything can be painted. The view shows each event's first characters up to
// this many; printing uses the report whole.
constexpr qsizetype kShownPerEvent = 12 * 1024;

// A cut at `at` that does not fall inside a tag or a character reference.
qsizetype safeCut(const QString &html, qsizetype at)
{
    // Whether what starts at `from` ends with `close` only at or after the cut.
    const auto openAt = [&html, at](qsizetype from, QChar close) {
        const qsizetype end = html.indexOf(close, from);
        return end < 0 || end >= at;
    };
    const qsizetype tag = html.lastIndexOf(QLatin1Char('<'), at - 1);
    if (tag >= 0 && openAt(tag, QLatin1Char('>')))
        at = tag;
    const qsizetype entity = html.lastIndexOf(QLatin1Char('&'), at - 1);
    if (entity >= 0 && at - entity < 12 && openAt(entity, QLatin1Char(';')))
        at = entity;
    return at;
}

// The report as this engine should lay it out; the file keeps its bytes. The
// engine gives a one-column table the width of its heading cell, so the event,
// notes and staff tables (990 pixels wide, headings 183) put their texts in a
// narrow column in the middle of the page: here they take the page's width.
// The start and end stay on one line each, and the heading of the date table
// spans the two columns there are.
QString readableReport(QString html)
{
    html.replace(QLatin1String(R"(<table width="990" align="center" class="table_all">)"),
                 QLatin1String(R"(<table width="100%" class="table_all">)"));
    html.replace(QLatin1String(R"(class="bg_table_sab" width="183">)"), QLatin1String(R"(class="bg_table_sab">)"));
    html.replace(QLatin1String(R"(<td width="55"><strong>START:</strong></td><td><div>)"),
                 QLatin1String(R"(<td width="55"><strong>START:</strong></td><td style="padding-left: 4px; padding-right: 6px"><div style="white-space: nowrap">)"));
    html.replace(QLatin1String(R"(<td width="55"><strong>END:</strong></td><td><div>)"),
                 QLatin1String(R"(<td width="55"><strong>END:</strong></td><td style="padding-left: 4px; padding-right: 6px"><div style="white-space: nowrap">)"));
    html.replace(QLatin1String(R"(<td colspan="3" class="top_menu" >)"), QLatin1String(R"(<td colspan="2" class="top_menu" >)"));
    // The staff member's name beside the page's left edge, not in its middle.
    html.replace(QLatin1String("<td>&nbsp;</td>\r\n                          <td>POINT OF CONTACT:"),
                 QLatin1String("<td width=\"1%\">&nbsp;</td>\r\n                          <td>POINT OF CONTACT:"));
    return html;
}

// At least the least margin on every side.
void widenMargins(QPrinter &printer)
{
    const QMarginsF m = printer.pageLayout().margins(QPageLayout::Millimeter);
    const QMarginsF wide(std::max(m.left(), kLeastMarginMm), std::max(m.top(), kLeastMarginMm),
                         std::max(m.right(), kLeastMarginMm), std::max(m.bottom(), kLeastMarginMm));
    if (wide != m)
        printer.setPageMargins(wide, QPageLayout::Millimeter);
}

// One event's part of the report, cut short when it is too long to show: the
// tables left open are closed, so the next event stands on its own page.
QString shownPart(const QString &part)
{
    if (part.size() <= kShownPerEvent)
        return part;
    QString shown = part.left(safeCut(part, kShownPerEvent));
    const qsizetype open = shown.count(QLatin1String("<table"), Qt::CaseInsensitive)
                           - shown.count(QLatin1String("</table"), Qt::CaseInsensitive);
    shown += QStringLiteral("<p><i>[%1 more characters are not shown here; printing prints them all.]</i></p>")
                 .arg(part.size() - shown.size());
    for (qsizetype i = 0; i < open; ++i)
        shown += QStringLiteral("</td></tr></table>");
    return shown;
}

// The report as the view shows it: every event's part within the limit.
QString shownReport(const QString &html)
{
    if (html.size() <= kShownPerEvent)
        return html;
    const QString separator = QStringLiteral("<p class='breakhere'>");
    qsizetype tail = html.lastIndexOf(QLatin1String("</body>"));
    if (tail < 0)
        tail = html.size();
    QString shown;
    qsizetype from = 0;
    while (from < tail) {
        qsizetype next = html.indexOf(separator, from + 1);
        if (next < 0 || next > tail)
            next = tail;
        shown += shownPart(html.mid(from, next - from));
        from = next;
    }
    return shown + html.mid(tail);
}

// Where the report must be cut to hold its first events only, or -1 when it
// is short enough to show whole. The cut keeps the document's own text up to
// a page-break separator, so the first pages lay out as in the whole report.
int firstEventsEnd(const QString &html)
{
    const QString separator = QStringLiteral("<p class='breakhere'>");
    int pos = html.indexOf(QLatin1String("<body>"));
    for (int i = 0; i < kFirstEvents && pos >= 0; ++i)
        pos = html.indexOf(separator, pos + 1);
    return pos;
}
} // namespace

ReportBrowser::ReportBrowser(QWidget *parent)
    : QTextBrowser(parent), m_printer(QPrinter::HighResolution)
{
    setObjectName(QStringLiteral("WebBrowser1"));
    // A value may hold markup, links included; the report is a page to print, not to browse.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    // So that page setup starts from margins a page reads well with.
    widenMargins(m_printer);
}

ReportBrowser::~ReportBrowser() = default;

QString ReportBrowser::styleSheetFor(const QString &reportPath)
{
    QString sheet;
    QFile css(QFileInfo(reportPath).absoluteDir().filePath(QStringLiteral("css/css.css")));
    // A missing style sheet leaves the report plain, as a browser would.
    if (css.open(QIODevice::ReadOnly))
        sheet = QString::fromLatin1(css.readAll());
    sheet += QStringLiteral("\nbody { margin-left: 0px; margin-top: 0px; margin-right: 0px; margin-bottom: 0px; }"
                            // Element names are case-sensitive here, unlike in HTML.
                            "\np.breakhere { page-break-before: always }\n");
    return sheet;
}

void ReportBrowser::navigate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw BrowserError(QStringLiteral("Cannot open '%1': %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    m_whole = readableReport(QString::fromLatin1(file.readAll()));
    const QString html = shownReport(m_whole);
    if (html == m_whole)
        m_whole.clear(); // shown whole: printing copies the view's document
    m_loaded = false;
    m_rest.clear();
    document()->setDefaultStyleSheet(styleSheetFor(path));
    document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    // Qt reads a long report slowly (a 200-event one takes a good part of a
    // second); show the first pages now and the whole once they are painted.
    const int cut = firstEventsEnd(html);
    const int tail = html.lastIndexOf(QLatin1String("</body>"));
    if (cut > 0 && tail > cut) {
        setHtml(html.left(cut) + html.mid(tail));
        m_rest = html;
    } else {
        setHtml(html);
    }
    m_loaded = true;
}

void ReportBrowser::complete()
{
    if (m_rest.isEmpty())
        return;
    const QString html = std::exchange(m_rest, QString());
    const int scrolled = verticalScrollBar()->value();
    setHtml(html);
    verticalScrollBar()->setValue(scrolled);
}

void ReportBrowser::paintEvent(QPaintEvent *event)
{
    QTextBrowser::paintEvent(event);
    if (!m_rest.isEmpty() && !m_completionQueued) {
        m_completionQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_completionQueued = false;
            complete();
        });
    }
}

bool ReportBrowser::printerReady() const
{
    if (m_printer.outputFormat() == QPrinter::PdfFormat)
        return !m_printer.outputFileName().isEmpty();
    return !m_printer.printerName().isEmpty() || !QPrinterInfo::defaultPrinter().isNull();
}

quint32 ReportBrowser::queryStatus(int cmd)
{
    switch (cmd) {
    case OLECMDID_PRINT:
    case OLECMDID_PRINTPREVIEW:
    case OLECMDID_PAGESETUP:
        // The print dialog can always offer a file, so a loaded report is enough.
        return m_loaded ? OLECMDF_ENABLED : 0;
    default:
        throw BrowserError(QStringLiteral("Unknown command %1.").arg(cmd));
    }
}

void ReportBrowser::exec(int cmd, int option)
{
    run(cmd, option);
}

void ReportBrowser::exec(int cmd, int option, const QString &, QString &out)
{
    out.clear();
    run(cmd, option);
}

void ReportBrowser::setLandscape()
{
    m_printer.setPageOrientation(QPageLayout::Landscape);
}

void ReportBrowser::printDocument(QPrinter *printer)
{
    // A printer chosen in the print dialog brings its own margins; only a page
    // setup may choose narrower ones.
    if (!m_marginsChosen)
        widenMargins(*printer);
    const QRectF paper = printer->pageRect(QPrinter::DevicePixel);
    if (paper.isEmpty())
        return;
    // Laid out at the page's own width, in screen pixels, so that text prints at its size.
    const qreal width = paper.width() * logicalDpiX() / printer->logicalDpiX();
    std::unique_ptr<QTextDocument> copy;
    if (m_whole.isEmpty()) {
        copy.reset(document()->clone());
    } else {
        copy = std::make_unique<QTextDocument>();
        copy->setDefaultStyleSheet(document()->defaultStyleSheet());
        copy->setBaseUrl(document()->baseUrl());
        copy->setHtml(m_whole);
    }
    copy->setPageSize(QSizeF(width, width * paper.height() / paper.width()));
    copy->print(printer);
}

void ReportBrowser::run(int cmd, int option)
{
    if (option != OLECMDEXECOPT_PROMPTUSER && option != OLECMDEXECOPT_DONTPROMPTUSER)
        throw BrowserError(QStringLiteral("Invalid option %1.").arg(option));
    if (!m_loaded)
        throw BrowserError(QStringLiteral("No document is loaded."));
    complete();

    switch (cmd) {
    case OLECMDID_PRINT:
        if (option == OLECMDEXECOPT_PROMPTUSER) {
            QPrintDialog dialog(&m_printer, this);
            if (dialog.exec() != QDialog::Accepted)
                return;
        } else if (!printerReady()) {
            throw BrowserError(QStringLiteral("No printer is available."));
        }
        printDocument(&m_printer);
        return;
    case OLECMDID_PRINTPREVIEW: {
        // The print window asks twice for one press of its button (before and
        // after checking the status); the person sees one preview.
        if (m_previewJustShown)
            return;
        QPrintPreviewDialog dialog(&m_printer, this);
        connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &ReportBrowser::printDocument);
        dialog.exec();
        m_previewJustShown = true;
        QTimer::singleShot(0, this, [this] { m_previewJustShown = false; });
        return;
    }
    case OLECMDID_PAGESETUP: {
        // Only the prompting form has anything to do: the settings are the dialog's.
        if (option == OLECMDEXECOPT_PROMPTUSER) {
            QPageSetupDialog dialog(&m_printer, this);
            if (dialog.exec() == QDialog::Accepted)
                m_marginsChosen = true;
        }
        return;
    }
    default:
        throw BrowserError(QStringLiteral("Unknown command %1.").arg(cmd));
    }
}

std::unique_ptr<BrowserCommands> ReportBrowserFactory::create(QWidget *parent)
{
    return std::make_unique<ReportBrowser>(parent);
}
