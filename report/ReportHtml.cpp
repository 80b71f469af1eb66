// The report page: HTML with inline CSS and SVG charts, each chart followed by the table of its
// figures.
#include "ReportRender.h"

#include "Escape.h"
#include "ReportTexts.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// Text and colours: dark grey on white, and marks that keep 4.5:1 against the page.
constexpr char kInk[] = "#1a1a1a";
constexpr char kAxis[] = "#595959";

enum class Pattern { Solid, Stripes, Dots, Crosshatch, Horizontal, Vertical };

struct MarkStyle
{
    const char *colour;
    Pattern pattern;
};

constexpr MarkStyle kGreen{"#1b5e20", Pattern::Solid};
constexpr MarkStyle kBlue{"#0b5394", Pattern::Solid};
constexpr MarkStyle kBlueStripes{"#0b5394", Pattern::Stripes};
constexpr MarkStyle kRed{"#a4161a", Pattern::Solid};
constexpr MarkStyle kOthers[] = {{"#6a1b9a", Pattern::Horizontal},
                                 {"#6a1b9a", Pattern::Vertical},
                                 {"#3b3b98", Pattern::Stripes},
                                 {"#00606e", Pattern::Dots},
                                 {"#8a4500", Pattern::Crosshatch}};

const QStringList kKnownOutcomes{QStringLiteral("success"),       QStringLiteral("changed"),
                                 QStringLiteral("unchanged"),     QStringLiteral("no-reply"),
                                 QStringLiteral("not-connected"), QStringLiteral("error")};

// The same outcome looks the same in every report.
MarkStyle outcomeStyle(const QString &outcome, int otherIndex)
{
    if (outcome == QLatin1String("success"))
        return kGreen;
    if (outcome == QLatin1String("changed"))
        return {"#00606e", Pattern::Vertical};
    if (outcome == QLatin1String("unchanged"))
        return {"#0b5394", Pattern::Horizontal};
    if (outcome == QLatin1String("no-reply"))
        return {"#8a4500", Pattern::Stripes};
    if (outcome == QLatin1String("not-connected"))
        return {"#3b3b98", Pattern::Dots};
    if (outcome == QLatin1String("error"))
        return {"#a4161a", Pattern::Crosshatch};
    return kOthers[otherIndex % int(std::size(kOthers))];
}

// HTML's own characters as references: the one escaper for this page. Everything shown goes
// through it once, after the byte or text escapes where the text came from a module or a store.
QString html(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Module bytes by the byte rule, journal texts by the text rule (Escape.h), then HTML's own.
QString bytesHtml(const QByteArray &bytes)
{
    return html(EscapeBytes(bytes));
}

QString textHtml(const QString &text)
{
    return html(EscapeText(text));
}

// Long names are cut in the charts; the tables and the marks' titles keep them whole.
QString cut(const QString &text, int max = 26)
{
    return text.size() <= max ? text : text.left(max - 1) + QChar(0x2026);
}

QString number(qint64 n)
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale.toString(n);
}

QString share(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return QStringLiteral("\u2013");
    return QString::number(100.0 * double(part) / double(whole), 'f', 1) + QLatin1Char('%');
}

QString px(double value)
{
    return QString::number(value, 'f', 1);
}

// A round axis end and step at or above `max`: 1, 2 or 5 times a power of ten, about five steps.
std::pair<double, double> axisScale(double max)
{
    if (max <= 0)
        return {1, 1};
    const double rough = max / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double f : {1.0, 2.0, 5.0, 10.0}) {
        step = f * power;
        if (step >= rough)
            break;
    }
    return {std::ceil(max / step - 1e-9) * step, step};
}

QString axisNumber(double value)
{
    return value == std::floor(value) ? number(qint64(value)) : QString::number(value, 'g', 3);
}

QString patternDefs(const QString &id, const MarkStyle &style)
{
    const QString colour = QLatin1String(style.colour);
    QString overlay;
    QString transform;
    switch (style.pattern) {
    case Pattern::Solid:
        break;
    case Pattern::Stripes:
        transform = QStringLiteral(" patternTransform=\"rotate(45)\"");
        overlay = QStringLiteral("<line x1=\"3\" y1=\"0\" x2=\"3\" y2=\"6\" stroke=\"#fff\" "
                                 "stroke-width=\"1.6\"/>");
        break;
    case Pattern::Dots:
        overlay = QStringLiteral("<circle cx=\"3\" cy=\"3\" r=\"1.4\" fill=\"#fff\"/>");
        break;
    case Pattern::Crosshatch:
        transform = QStringLiteral(" patternTransform=\"rotate(45)\"");
        overlay = QStringLiteral("<path d=\"M3 0V6M0 3H6\" stroke=\"#fff\" stroke-width=\"1.2\"/>");
        break;
    case Pattern::Horizontal:
        overlay = QStringLiteral("<path d=\"M0 3H6\" stroke=\"#fff\" stroke-width=\"1.6\"/>");
        break;
    case Pattern::Vertical:
        overlay = QStringLiteral("<path d=\"M3 0V6\" stroke=\"#fff\" stroke-width=\"1.6\"/>");
        break;
    }
    return QStringLiteral("<pattern id=\"%1\" width=\"6\" height=\"6\" "
                          "patternUnits=\"userSpaceOnUse\"%2><rect width=\"6\" height=\"6\" "
                          "fill=\"%3\"/>%4</pattern>")
        .arg(id, transform, colour, overlay);
}

struct Series
{
    QString name;
    MarkStyle style;
};

// About how wide a text is drawn at the charts' 12 pixels: Chinese characters take twice the
// room of Latin ones.
double textWidth(const QString &text)
{
    double width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2e80 ? 13 : 7;
    return width;
}

// A legend row at the top of a chart: a swatch and the name of each series.
QString legend(const QString &chartId, const QList<Series> &series, double left, double width)
{
    QString svg;
    double x = left;
    double y = 8;
    for (int i = 0; i < series.size(); ++i) {
        const double itemWidth = 34 + textWidth(cut(series[i].name));
        if (x + itemWidth > left + width && x > left) {
            x = left;
            y += 20;
        }
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"14\" height=\"14\" "
                              "fill=\"url(#%3-s%4)\" stroke=\"%5\" stroke-width=\"0.5\"/>"
                              "<text x=\"%6\" y=\"%7\">%8</text>")
                   .arg(px(x), px(y), chartId)
                   .arg(i)
                   .arg(QLatin1String(kAxis), px(x + 20), px(y + 12), html(cut(series[i].name)));
        x += itemWidth;
    }
    return svg;
}

// The opening of a chart: its accessible name and its patterns.
QString svgStart(const QString &id, const QString &title, double width, double height,
                 const QList<Series> &series)
{
    QString svg = QStringLiteral("<svg role=\"img\" aria-labelledby=\"%1-t\" viewBox=\"0 0 %2 %3\" "
                                 "width=\"%2\" height=\"%3\"><title id=\"%1-t\">%4</title><defs>")
                      .arg(id, px(width), px(height), html(title));
    for (int i = 0; i < series.size(); ++i)
        svg += patternDefs(QStringLiteral("%1-s%2").arg(id).arg(i), series[i].style);
    return svg + QStringLiteral("</defs>");
}

struct BarRow
{
    // Shown as it is: the caller escaped it.
    QString labelHtml;
    QList<double> values;
    QStringList valueTexts;
};

// Horizontal bars, one group per row, one bar per series, each with its value written beside it.
QString barChart(const QString &id, const QString &title, const QString &axisTitle,
                 const QList<Series> &series, const QList<BarRow> &rows)
{
    const double left = 210;
    const double plot = 560;
    const double barHeight = 14;
    const double groupGap = 10;
    const double top = series.size() > 1 ? 34 : 10;
    const double groupHeight = barHeight * double(series.size()) + groupGap;
    const double height = top + groupHeight * double(rows.size()) + 46;
    double max = 0;
    for (const BarRow &row : rows)
        for (const double v : row.values)
            max = std::max(max, v);
    const auto [end, step] = axisScale(max);
    QString svg = svgStart(id, title, left + plot + 110, height, series);
    if (series.size() > 1)
        svg += legend(id, series, left, plot);
    const double bottom = top + groupHeight * double(rows.size());
    for (double tick = 0; tick <= end + step / 2; tick += step) {
        const double x = left + plot * tick / end;
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" class=\"grid\"/>"
                              "<text x=\"%1\" y=\"%4\" text-anchor=\"middle\">%5</text>")
                   .arg(px(x), px(top - 4), px(bottom), px(bottom + 16), html(axisNumber(tick)));
    }
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" class=\"axis\"/>")
               .arg(px(left), px(top - 4), px(bottom));
    for (int r = 0; r < rows.size(); ++r) {
        const BarRow &row = rows[r];
        const double y = top + groupHeight * r;
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(px(left - 8), px(y + barHeight * double(series.size()) / 2 + 4),
                        row.labelHtml);
        for (int s = 0; s < series.size(); ++s) {
            const double width = plot * row.values.value(s) / end;
            const double by = y + barHeight * s;
            svg += QStringLiteral("<rect class=\"mark\" x=\"%1\" y=\"%2\" width=\"%3\" "
                                  "height=\"%4\" fill=\"url(#%5-s%6)\"><title>%7</title></rect>"
                                  "<text x=\"%8\" y=\"%9\">%10</text>")
                       .arg(px(left), px(by), px(width), px(barHeight - 1), id)
                       .arg(s)
                       .arg(row.labelHtml + QStringLiteral(" \u00b7 ") + html(series[s].name) +
                                QStringLiteral(": ") + html(row.valueTexts.value(s)),
                            px(left + width + 5), px(by + barHeight - 3),
                            html(row.valueTexts.value(s)));
        }
    }
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" "
                          "class=\"axis-title\">%3</text></svg>")
               .arg(px(left + plot / 2), px(bottom + 36), html(axisTitle));
    return svg;
}

// A table of figures: `header` and `rows` are HTML already; columns in `numeric` align right.
QString table(const QString &caption, const QStringList &header, const QList<QStringList> &rows,
              const QList<int> &numeric)
{
    QString out = caption.isEmpty()
                      ? QStringLiteral("<table>")
                      : QStringLiteral("<table><caption>%1</caption>").arg(html(caption));
    if (!header.isEmpty()) {
        out += QStringLiteral("<thead><tr>");
        for (int c = 0; c < header.size(); ++c)
            out += QStringLiteral("<th scope=\"col\"%1>%2</th>")
                       .arg(numeric.contains(c) ? QStringLiteral(" class=\"num\"") : QString(),
                            header[c]);
        out += QStringLiteral("</tr></thead>");
    }
    out += QStringLiteral("<tbody>");
    for (const QStringList &row : rows) {
        out += QStringLiteral("<tr>");
        for (int c = 0; c < row.size(); ++c) {
            const QString cls = numeric.contains(c) ? QStringLiteral(" class=\"num\"") : QString();
            out += c == 0 ? QStringLiteral("<th scope=\"row\"%1>%2</th>").arg(cls, row[c])
                          : QStringLiteral("<td%1>%2</td>").arg(cls, row[c]);
        }
        out += QStringLiteral("</tr>");
    }
    return out + QStringLiteral("</tbody></table>");
}

class Page
{
public:
    Page(const ReportData &report, int language) : r(report), lang(language) {}

    QString render()
    {
        QString body = header() + summary();
        if (r.records > 0)
            body += perDay() + failureShares() + versions() + mostFailures() + durations();
        if (r.query.staleDays >= 0)
            body += stale();
        return QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\"><head><meta charset=\"utf-8\">"
                              "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                              "'none'; style-src 'unsafe-inline'\"><meta name=\"viewport\" "
                              "content=\"width=device-width\"><title>%2</title><style>%3</style>"
                              "</head><body>%4</body></html>\n")
            .arg(ReportLanguageTag(lang), html(pageTitle()), style(), body);
    }

private:
    QString t(ReportText text) const { return ReportString(text, lang); }
    QString th(ReportText text) const { return html(t(text)); }

    QString localTime(const QDateTime &time) const
    {
        return time.toTimeZone(r.query.zone).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    }

    QString stationText() const
    {
        return r.query.station.isEmpty() ? t(ReportText::AllStations) : EscapeText(r.query.station);
    }

    QString moduleText() const
    {
        return r.query.serial.isNull() ? t(ReportText::AllModules) : EscapeBytes(r.query.serial);
    }

    QString pageTitle() const
    {
        return QStringLiteral("%1 \u2013 %2 \u2013 %3")
            .arg(t(ReportText::Title), stationText(), moduleText());
    }

    static QString style()
    {
        return QStringLiteral(
                   "body{font-family:'Liberation Sans',Arial,'WenQuanYi Zen Hei',sans-serif;"
                   "color:%1;background:#fff;margin:24px;max-width:980px}"
                   "h1{font-size:1.5em;margin:0 0 4px}h2{font-size:1.2em;margin:28px 0 8px;"
                   "border-bottom:1px solid %2;padding-bottom:2px}"
                   "p.meta{margin:2px 0;color:%1}"
                   "table{border-collapse:collapse;margin:8px 0 16px;font-size:0.9em}"
                   "caption{text-align:left;font-weight:bold;padding:4px 0;white-space:nowrap}"
                   "h3{font-size:1em;margin:16px 0 4px}"
                   "th,td{border:1px solid %2;padding:3px 8px;text-align:left;"
                   "vertical-align:top}thead th{background:#f0f0f0}"
                   ".num{text-align:right;font-variant-numeric:tabular-nums}"
                   "td.cell{font-family:'Liberation Mono','Courier New',monospace;"
                   "word-break:break-all}"
                   "svg{max-width:100%;height:auto;font-size:12px;fill:%1}"
                   "svg .grid{stroke:#d0d0d0;stroke-width:1}svg .axis{stroke:%2;"
                   "stroke-width:1}svg .axis-title{font-weight:bold}svg .mark{stroke:#fff;"
                   "stroke-width:0.5}"
                   "figure{margin:0}"
                   "@media print{body{margin:0;max-width:none}h2{break-after:avoid}"
                   "figure,svg,tr{break-inside:avoid}}")
            .arg(QLatin1String(kInk), QLatin1String(kAxis));
    }

    QString header() const
    {
        QString out = QStringLiteral("<header><h1>%1</h1>").arg(html(t(ReportText::Title)));
        const QDateTime lastInstant = r.query.until.addMSecs(-1);
        const QString colon = th(ReportText::Colon);
        out += QStringLiteral("<p class=\"meta\">%1%2%3 \u2013 %4</p>")
                   .arg(th(ReportText::Period), colon, html(localTime(r.query.since)),
                        html(localTime(lastInstant)));
        out += QStringLiteral("<p class=\"meta\">%1%2%3 \u00b7 %4%2%5</p>")
                   .arg(th(ReportText::Station), colon, html(stationText()), th(ReportText::Module),
                        html(moduleText()));
        out += QStringLiteral("<p class=\"meta\">%1 \u00b7 %2</p></header>")
                   .arg(html(t(ReportText::TimesIn)
                                 .arg(EscapeText(QString::fromUtf8(r.query.zone.id())))),
                        html(t(ReportText::Made).arg(localTime(r.made))));
        return out;
    }

    QString tallyTable(ReportText caption, ReportText keyTitle, const QList<ReportTally> &tallies,
                       bool sources) const
    {
        QList<QStringList> rows;
        for (const ReportTally &tally : tallies)
            rows << QStringList{sources ? html(SourceCaption(tally.key, lang))
                                        : textHtml(tally.key),
                                number(tally.records), share(tally.successes, tally.records)};
        return table(t(caption),
                     {th(keyTitle), th(ReportText::Records), th(ReportText::SuccessShare)}, rows,
                     {1, 2});
    }

    QString summary() const
    {
        QString out =
            QStringLiteral("<section id=\"summary\"><h2>%1</h2>").arg(th(ReportText::Summary));
        out += table(QString(), {},
                     {{th(ReportText::Records), number(r.records)},
                      {th(ReportText::ModulesSeen), number(r.modulesSeen)},
                      {th(ReportText::SuccessShare), share(r.successes, r.records)},
                      {th(ReportText::RecordsWithoutSerial), number(r.recordsWithoutSerial)}},
                     {1});
        if (r.records == 0)
            return out + QStringLiteral("<p><strong>%1</strong></p></section>")
                             .arg(th(ReportText::NoRecords));
        out += tallyTable(ReportText::BySource, ReportText::Source, r.bySource, true);
        out += tallyTable(ReportText::ByStation, ReportText::Station, r.byStation, false);
        return out + QStringLiteral("</section>");
    }

    QList<Series> outcomeSeries() const
    {
        QList<Series> series;
        int others = 0;
        for (const QString &outcome : r.outcomes) {
            series << Series{OutcomeCaption(outcome, lang), outcomeStyle(outcome, others)};
            if (!kKnownOutcomes.contains(outcome))
                ++others;
        }
        return series;
    }

    QString perDay() const
    {
        const QString title = t(ReportText::PerDay);
        const QList<Series> series = outcomeSeries();
        const double left = 70;
        const double plot = 860;
        const double top = 34 + (series.size() > 4 ? 20 : 0);
        const double plotHeight = 240;
        const double bottom = top + plotHeight;
        qint64 max = 0;
        for (const ReportDay &day : r.days)
            max = std::max(max, day.records());
        const auto [end, step] = axisScale(double(max));
        QString svg =
            svgStart(QStringLiteral("days"), title, left + plot + 20, bottom + 56, series);
        svg += legend(QStringLiteral("days"), series, left, plot);
        for (double tick = 0; tick <= end + step / 2; tick += step) {
            const double y = bottom - plotHeight * tick / end;
            svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" class=\"grid\"/>"
                                  "<text x=\"%4\" y=\"%5\" text-anchor=\"end\">%6</text>")
                       .arg(px(left), px(y), px(left + plot), px(left - 6), px(y + 4),
                            html(axisNumber(tick)));
        }
        const double slot = plot / double(std::max<qsizetype>(1, r.days.size()));
        const int labelEvery = int(std::ceil(double(r.days.size()) / 12.0));
        for (int i = 0; i < r.days.size(); ++i) {
            const ReportDay &day = r.days[i];
            const QString date = day.day.toString(Qt::ISODate);
            const double x = left + slot * i + std::min(2.0, slot * 0.15);
            const double width = std::max(0.5, slot - 2 * std::min(2.0, slot * 0.15));
            double y = bottom;
            for (int s = 0; s < r.outcomes.size(); ++s) {
                const qint64 count = day.outcomes.value(r.outcomes[s]);
                if (count == 0)
                    continue;
                const double h = plotHeight * double(count) / end;
                y -= h;
                svg += QStringLiteral("<rect class=\"mark\" x=\"%1\" y=\"%2\" width=\"%3\" "
                                      "height=\"%4\" fill=\"url(#days-s%5)\"><title>%6 \u00b7 "
                                      "%7: %8</title></rect>")
                           .arg(px(x), px(y), px(width), px(h))
                           .arg(s)
                           .arg(html(date), html(series[s].name), number(count));
            }
            if (i % labelEvery == 0)
                svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                           .arg(px(x + width / 2), px(bottom + 16),
                                html(day.day.toString(QStringLiteral("MM-dd"))));
        }
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" class=\"axis\"/>")
                   .arg(px(left), px(bottom), px(left + plot));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" class=\"axis-title\">"
                              "%3</text><text transform=\"translate(16 %4) rotate(-90)\" "
                              "text-anchor=\"middle\" class=\"axis-title\">%5</text></svg>")
                   .arg(px(left + plot / 2), px(bottom + 40), th(ReportText::Day),
                        px(top + plotHeight / 2), th(ReportText::Operations));

        QStringList header{th(ReportText::Day)};
        QList<int> numeric;
        for (int s = 0; s < series.size(); ++s) {
            header << html(series[s].name);
            numeric << s + 1;
        }
        header << th(ReportText::Records);
        numeric << int(series.size()) + 1;
        QList<QStringList> rows;
        for (const ReportDay &day : r.days) {
            if (day.records() == 0)
                continue;
            QStringList row{html(day.day.toString(Qt::ISODate))};
            for (const QString &outcome : r.outcomes)
                row << number(day.outcomes.value(outcome));
            row << number(day.records());
            rows << row;
        }
        return QStringLiteral("<section id=\"per-day\"><h2>%1</h2><figure>%2</figure>%3</section>")
            .arg(html(title), svg, table(t(ReportText::TableOf).arg(title), header, rows, numeric));
    }

    QString failureChart(const QString &id, ReportText title, ReportText keyTitle,
                         const QList<ReportTally> &tallies, bool operations) const
    {
        QList<BarRow> bars;
        QList<QStringList> rows;
        for (const ReportTally &tally : tallies) {
            const QString label =
                operations ? html(OperationCaption(tally.key, lang)) : textHtml(cut(tally.key));
            const double value =
                tally.records > 0 ? 100.0 * double(tally.failures()) / double(tally.records) : 0;
            bars << BarRow{label, {value}, {share(tally.failures(), tally.records)}};
            rows << QStringList{operations ? label : textHtml(tally.key), number(tally.records),
                                number(tally.failures()), share(tally.failures(), tally.records)};
        }
        return QStringLiteral("<h3>%1</h3><figure>%2</figure>%3")
            .arg(html(t(title)),
                 barChart(id, t(title), t(ReportText::FailureShare) + QStringLiteral(" (%)"),
                          {{t(ReportText::FailureShare), kRed}}, bars),
                 table(t(ReportText::TableOf).arg(t(title)),
                       {th(keyTitle), th(ReportText::Records), th(ReportText::Failures),
                        th(ReportText::FailureShare)},
                       rows, {1, 2, 3}));
    }

    QString failureShares() const
    {
        return QStringLiteral("<section id=\"failure-share\"><h2>%1</h2>%2%3</section>")
            .arg(th(ReportText::FailureShare),
                 failureChart(QStringLiteral("fail-station"), ReportText::FailuresPerStation,
                              ReportText::Station, r.byStation, false),
                 failureChart(QStringLiteral("fail-operation"), ReportText::FailuresPerOperation,
                              ReportText::Operation, r.byOperation, true));
    }

    QString versionHtml(const QByteArray &version) const
    {
        return version.isNull() ? th(ReportText::NoVersion) : bytesHtml(version);
    }

    QString versions() const
    {
        const QString title = t(ReportText::FirmwareVersions);
        QList<BarRow> bars;
        QList<QStringList> rows;
        for (const ReportVersion &v : r.versions) {
            const QString label =
                v.version.isNull() ? th(ReportText::NoVersion) : html(cut(EscapeBytes(v.version)));
            bars << BarRow{label, {double(v.modules)}, {number(v.modules)}};
            rows << QStringList{versionHtml(v.version), number(v.modules)};
        }
        return QStringLiteral("<section id=\"versions\"><h2>%1</h2><figure>%2</figure>%3</section>")
            .arg(html(title),
                 barChart(QStringLiteral("versions"), title, t(ReportText::Modules),
                          {{t(ReportText::Modules), kBlue}}, bars),
                 table(t(ReportText::TableOf).arg(title),
                       {th(ReportText::Version), th(ReportText::Modules)}, rows, {1}));
    }

    QString serialHtml(const QByteArray &serial) const
    {
        return serial.isNull() ? th(ReportText::UnknownModule) : bytesHtml(serial);
    }

    QString mostFailures() const
    {
        const QString title = t(ReportText::MostFailures);
        QList<QStringList> rows;
        for (const ReportFailingModule &m : r.mostFailures)
            rows << QStringList{serialHtml(m.serial), textHtml(m.lastAddress), number(m.failures),
                                textHtml(m.lastFailureStatus), html(localTime(m.lastFailure))};
        const QString list =
            rows.isEmpty() ? QStringLiteral("<p>%1</p>").arg(th(ReportText::None))
                           : table(title,
                                   {th(ReportText::Serial), th(ReportText::LastAddress),
                                    th(ReportText::Failures), th(ReportText::LastFailureStatus),
                                    th(ReportText::LastFailure)},
                                   rows, {2});
        return QStringLiteral("<section id=\"most-failures\"><h2>%1</h2>%2</section>")
            .arg(html(title), list);
    }

    QString durations() const
    {
        const QString title = t(ReportText::Durations);
        QList<BarRow> bars;
        QList<QStringList> rows;
        for (const ReportDuration &d : r.durations) {
            const QString label = html(OperationCaption(d.operation, lang));
            bars << BarRow{label,
                           {double(d.medianMs), double(d.p95Ms)},
                           {number(d.medianMs), number(d.p95Ms)}};
            rows << QStringList{label, number(d.records), number(d.medianMs), number(d.p95Ms)};
        }
        return QStringLiteral(
                   "<section id=\"durations\"><h2>%1</h2><figure>%2</figure>%3</section>")
            .arg(html(title),
                 barChart(
                     QStringLiteral("durations"), title, t(ReportText::Milliseconds),
                     {{t(ReportText::Median), kBlue}, {t(ReportText::Percentile95), kBlueStripes}},
                     bars),
                 table(t(ReportText::TableOf).arg(title),
                       {th(ReportText::Operation), th(ReportText::Records), th(ReportText::Median),
                        th(ReportText::Percentile95)},
                       rows, {1, 2, 3}));
    }

    QString stale() const
    {
        const QString title = t(ReportText::Stale).arg(localTime(r.staleBefore()));
        QList<QStringList> rows;
        for (const ReportStaleModule &m : r.stale)
            rows << QStringList{bytesHtml(m.serial), html(localTime(m.lastSeen)),
                                textHtml(m.lastAddress), versionHtml(m.version)};
        QString out = QStringLiteral("<section id=\"stale\"><h2>%1</h2>").arg(html(title));
        if (rows.isEmpty())
            return out + QStringLiteral("<p>%1</p></section>").arg(th(ReportText::None));
        if (r.staleModules > r.stale.size())
            out +=
                QStringLiteral("<p>%1</p>")
                    .arg(html(
                        t(ReportText::Shown).arg(number(r.stale.size()), number(r.staleModules))));
        return out +
               table(title,
                     {th(ReportText::Serial), th(ReportText::LastSeen), th(ReportText::LastAddress),
                      th(ReportText::Version)},
                     rows, {}) +
               QStringLiteral("</section>");
    }

    const ReportData &r;
    int lang;
};

} // namespace

QByteArray RenderReportHtml(const ReportData &report, int language)
{
    return Page(report, language).render().toUtf8();
}

QStringList ReportColours()
{
    QStringList colours{QLatin1String(kInk), QLatin1String(kAxis), QLatin1String(kGreen.colour),
                        QLatin1String(kBlue.colour), QLatin1String(kRed.colour)};
    for (const MarkStyle &style : kOthers)
        colours << QLatin1String(style.colour);
    for (const char *outcome : {"changed", "unchanged", "no-reply", "not-connected", "error"})
        colours << QLatin1String(outcomeStyle(QLatin1String(outcome), 0).colour);
    colours.removeDuplicates();
    return colours;
}
