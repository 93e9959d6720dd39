#include "print/EventReport.h"

#include "store/Event.h"
#include "ui/Regional.h"

namespace eventReport {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

struct Line
{
    int indent;
    const char *text;
};

// The block as three runs of fixed lines around the spliced ones.
void appendLines(QString &out, const Line *lines, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out += QString(lines[i].indent, QLatin1Char(' '));
        out += QLatin1String(lines[i].text);
        out += kCrLf;
    }
}

void appendValueLine(QString &out, int indent, const char *before, const QString &value, const char *after)
{
    out += QString(indent, QLatin1Char(' '));
    out += QLatin1String(before);
    out += value;
    out += QLatin1String(after);
    out += kCrLf;
}

template <size_t N>
void appendLines(QString &out, const Line (&lines)[N])
{
    appendLines(out, lines, N);
}

const Line kB3toB14[] = {
    {2, R"(<tr><td class="header_line">&nbsp; </td></tr>)"},
    {2, R"(<tr><td bgcolor="#FFFFFF">)"},
    {8, R"(<table width="100%"  border="0" cellpadding="0" cellspacing="1" bgcolor="#6B9A6D">)"},
    {10, R"(<tr>)"},
    {12, R"(<td valign="top" bgcolor="#FFFFFF">)"},
    {14, R"(<table width="100%"  border="0" cellspacing="0" cellpadding="0">)"},
    {16, R"(<tr>)"},
    {18, R"(<td valign="top">)"},
    {20, R"(<div align="left">)"},
    {22, R"(<table width="100%"  border="0" cellpadding="0" cellspacing="0" class="all_headline">)"},
    {24, R"(<tr>)"},
    {26, R"(<td>&nbsp;</td>)"},
};

const Line kB16toB27[] = {
    {24, R"(</tr>)"},
    {22, R"(</table>)"},
    {20, R"(</div>)"},
    {18, R"(</td>)"},
    {16, R"(</tr>)"},
    {16, R"(<tr>)"},
    {18, R"(<td>)"},
    {20, R"(<table>)"},
    {22, R"(<tr>)"},
    {24, R"(<td>)"},
    {26, R"(<table border="0" align="left" cellpadding="0" cellspacing="1" bgcolor="#4A4A4A">)"},
    {28, R"(<tr><td colspan="3" class="top_menu" ><div align="left" class="bg_table_sab"><strong>DATE and TIME</strong></div></td></tr>)"},
};

const Line kB30toB40[] = {
    {26, R"(</table>)"},
    {23, R"(</td>)"},
    {21, R"(</tr>)"},
    {19, R"(</table>)"},
    {19, R"(<hr>)"},
    {17, R"(</td>)"},
    {15, R"(</tr>)"},
    {15, R"(<tr>)"},
    {17, R"(<td valign="top">)"},
    {19, R"(<table width="990" align="center" class="table_all">)"},
    {21, R"(<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">EVENT</td></tr>)"},
};

const Line kB42toB48[] = {
    {19, R"(</table>)"},
    {16, R"(</td>)"},
    {14, R"(</tr>)"},
    {14, R"(<tr>)"},
    {16, R"(<td valign="top">)"},
    {18, R"(<table width="990" align="center" class="table_all">)"},
    {20, R"(<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">NOTES</td></tr>)"},
};

const Line kB50toB56[] = {
    {17, R"(</table>)"},
    {15, R"(</td>)"},
    {13, R"(</tr>)"},
    {13, R"(<tr>)"},
    {15, R"(<td valign="top">)"},
    {17, R"(<table width="990" align="center" class="table_all">)"},
    {19, R"(<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">INFORMATION:  POC</td></tr>)"},
};

const Line kB58toB65[] = {
    {17, R"(</table>)"},
    {14, R"(</td>)"},
    {12, R"(</tr>)"},
    {9, R"(</td>)"},
    {6, R"(</tr>)"},
    {4, R"(</td>)"},
    {2, R"(</tr>)"},
    {0, R"(</table>)"},
};

const char *const kHead[] = {
    R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN" "http://www.w3.org/TR/html4/loose.dtd"> )",
    R"(<html>)",
    R"(<head>)",
    R"(<meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">)",
    R"(<title>Orvenna Event Calendar</title>)",
    R"(<style type="text/css">)",
    R"(<!-- )",
    R"(@import url("css/css.css"); )",
    R"(body { )",
    R"(margin-left: 0px; )",
    R"(margin-top: 0px; )",
    R"(margin-right: 0px; )",
    R"(margin-bottom: 0px; )",
    R"(} )",
    R"(a:link { text-decoration: none; } )",
    R"(a:visited { text-decoration: none; } )",
    R"(a:hover { text-decoration: underline; } )",
    R"(a:active { text-decoration: none; } )",
    R"(P.breakhere { page-break-before: always } )",
    R"(--> )",
    R"(</style> )",
    R"(</head> )",
};

} // namespace

ReportEvent reportEvent(const store::Event &event)
{
    return {event.values.title, event.values.description, event.values.notes, event.start(), event.end(),
            event.staffName, event.staffNotes};
}

QString convertLineBreaks(const QString &text)
{
    QString out = text;
    out.replace(kCrLf, QStringLiteral("<P>"));
    return out;
}

QString dateTimeText(const QDateTime &value)
{
    return longDateText(value.date()) + QLatin1Char(' ') + longTimeText(value.time());
}

QString headText()
{
    QString out;
    const size_t count = sizeof kHead / sizeof kHead[0];
    for (size_t i = 0; i < count; ++i) {
        out += QLatin1String(kHead[i]);
        if (i + 1 < count)
            out += kCrLf;
    }
    return out;
}

QString tailText()
{
    return QStringLiteral("</body></html>");
}

QString bodyOpening()
{
    return QStringLiteral("<body>") + kCrLf;
}

QString pageSeparator()
{
    return kCrLf + QStringLiteral("<p class='breakhere'>&nbsp;</p>") + kCrLf;
}

QString eventBlock(const ReportEvent &e)
{
    QString out;
    out.reserve(5000 + e.title.size() + e.description.size() + e.notes.size() + e.pocDescription.size());
    appendLines(out, {{0, R"(<table width="100%"  border="0" cellpadding="0" cellspacing="0">)"}});
    appendValueLine(out, 2, R"(<tr><td class="head_title">)", e.title, R"(</td></tr>)");
    appendLines(out, kB3toB14);
    appendValueLine(out, 26, R"(<td>POINT OF CONTACT: &nbsp; &nbsp;)", e.pocName, R"(</td>)");
    appendLines(out, kB16toB27);
    appendValueLine(out, 28,
                    R"(<tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>START:</strong></td><td><div>)",
                    dateTimeText(e.eventTime), R"(</div></td></tr>)");
    appendValueLine(out, 28,
                    R"(<tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>END:</strong></td><td><div>)",
                    dateTimeText(e.eventTimeEnd), R"(</div></td></tr>)");
    appendLines(out, kB30toB40);
    appendValueLine(out, 21, R"(<tr><td bgcolor="#FFFFFF" class="text_all">)", convertLineBreaks(e.description),
                    R"(</td></tr>)");
    appendLines(out, kB42toB48);
    appendValueLine(out, 20, R"(<tr><td bgcolor="#FFFFFF" class="text_all">)", convertLineBreaks(e.notes),
                    R"(</td></tr>)");
    appendLines(out, kB50toB56);
    appendValueLine(out, 19, R"(<tr><td bgcolor="#FFFFFF" class="text_all">)", convertLineBreaks(e.pocDescription),
                    R"(</td></tr>)");
    appendLines(out, kB58toB65);
    return out;
}

QByteArray fileBytes(const QString &reportText)
{
    // Most reports are ISO-8859-1 throughout: convert that stretch in one go.
    const qsizetype n = reportText.size();
    qsizetype i = 0;
    while (i < n && reportText.at(i).unicode() < 0x100)
        ++i;
    QByteArray out = QStringView(reportText).left(i).toLatin1();
    out.reserve(reportText.size() + 2);
    for (; i < n; ++i) {
        const char16_t c = reportText.at(i).unicode();
        if (c < 0x100) {
            out.append(char(c));
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(reportText.at(i + 1).unicode())) {
            code = QChar::surrogateToUcs4(c, reportText.at(i + 1).unicode());
            ++i;
        } else if (QChar::isSurrogate(c)) {
            // Half a pair stands for no character at all.
            code = QChar::ReplacementCharacter;
        }
        out.append("&#").append(QByteArray::number(quint32(code))).append(';');
    }
    out.append("\r\n");
    return out;
}

} // namespace eventReport
