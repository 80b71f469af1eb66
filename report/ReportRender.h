#pragma once

#include "ReportData.h"

#include <QByteArray>

// The report as one self-contained HTML page in UTF-8: inline CSS and SVG, no script, nothing
// fetched, laid out for the screen and for paper. Captions are in `language` (the columns of
// LanguageIndex()); times in the query's zone. Every chart has a title, axis labels, a <title>
// per mark and a table of its figures; outcomes differ by pattern as well as by colour. Module
// bytes are shown with the byte escapes and journal texts with the text escapes, then
// HTML-escaped, so nothing a module or a station sent becomes markup.
[[nodiscard]] QByteArray RenderReportHtml(const ReportData &report, int language);

// The same figures as JSON, every one named (velqa-cli report --help lists the names). Module
// bytes are kept as they came, one character per byte; instants are UTC, days local.
[[nodiscard]] QByteArray RenderReportJson(const ReportData &report);

// The colours the page draws marks and text in, for a contrast check: each keeps at least
// 4.5:1 against the white page, and the white lines of the patterns against it.
[[nodiscard]] QStringList ReportColours();
