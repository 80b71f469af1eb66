#include "ReportTexts.h"

#include "Escape.h"
#include "MessageCatalogue.h"

#include <QHash>

#include <iterator>

namespace {

struct Row
{
    ReportText text;
    const char *english;
    const char *simplified;
    const char *traditional;
};

// UTF-8. "%1" is filled in by the report.
constexpr Row kRows[] = {
    {ReportText::Title, "VELQA operations report", "VELQA 操作记录报表", "VELQA 操作記錄報表"},
    {ReportText::Colon, ": ", "：", "："},
    {ReportText::History, "History", "历史记录", "歷史記錄"},
    {ReportText::Reading, "Reading the journal\u2026", "正在读取操作记录\u2026",
     "正在讀取操作記錄\u2026"},
    {ReportText::CannotRead, "The journal cannot be read: %1", "无法读取操作记录：%1",
     "無法讀取操作記錄：%1"},
    {ReportText::Summary, "Summary", "摘要", "摘要"},
    {ReportText::Period, "Period", "期间", "期間"},
    {ReportText::TimesIn, "Times in %1", "时间以 %1 时区显示", "時間以 %1 時區顯示"},
    {ReportText::Made, "Made %1", "产生于 %1", "產生於 %1"},
    {ReportText::Station, "Station", "工站", "工作站"},
    {ReportText::AllStations, "all stations", "所有工站", "所有工作站"},
    {ReportText::Module, "Module", "模组", "模組"},
    {ReportText::AllModules, "all modules", "所有模组", "所有模組"},
    {ReportText::Records, "Records", "记录数", "記錄數"},
    {ReportText::ModulesSeen, "Modules seen", "出现的模组数", "出現的模組數"},
    {ReportText::SuccessShare, "Success share", "成功率", "成功率"},
    {ReportText::FailureShare, "Failure share", "失败率", "失敗率"},
    {ReportText::RecordsWithoutSerial, "Records without a serial number (unknown module)",
     "无序列号的记录（未知模组）", "無序號的記錄（未知模組）"},
    {ReportText::NoRecords, "No records in this period.", "此期间没有任何记录。",
     "此期間沒有任何記錄。"},
    {ReportText::BySource, "By source", "按来源", "依來源"},
    {ReportText::ByStation, "By station", "按工站", "依工作站"},
    {ReportText::Source, "Source", "来源", "來源"},
    {ReportText::Operation, "Operation", "操作", "操作"},
    {ReportText::Outcome, "Outcome", "结果", "結果"},
    {ReportText::Failures, "Failures", "失败次数", "失敗次數"},
    {ReportText::PerDay, "Operations per day, by outcome", "每日操作数（按结果）",
     "每日操作數（依結果）"},
    {ReportText::Day, "Day", "日期", "日期"},
    {ReportText::Operations, "Operations", "操作数", "操作數"},
    {ReportText::FailuresPerStation, "Failure share per station", "各工站失败率", "各工作站失敗率"},
    {ReportText::FailuresPerOperation, "Failure share per operation", "各操作失败率",
     "各操作失敗率"},
    {ReportText::FirmwareVersions, "Firmware versions of the fleet (latest record of each module)",
     "模组韧体版本（各模组最新记录）", "模組韌體版本（各模組最新記錄）"},
    {ReportText::Version, "Version", "版本", "版本"},
    {ReportText::NoVersion, "no version", "无版本", "無版本"},
    {ReportText::Modules, "Modules", "模组数", "模組數"},
    {ReportText::MostFailures, "Modules with the most failures", "失败最多的模组",
     "失敗最多的模組"},
    {ReportText::Serial, "Serial number", "序列号", "序號"},
    {ReportText::LastAddress, "Last address", "最后位址", "最後位址"},
    {ReportText::LastFailureStatus, "Last failure status", "最后失败状态", "最後失敗狀態"},
    {ReportText::LastFailure, "Last failure", "最后失败时间", "最後失敗時間"},
    {ReportText::UnknownModule, "unknown module", "未知模组", "未知模組"},
    {ReportText::Durations, "Duration per operation", "各操作耗时", "各操作耗時"},
    {ReportText::Median, "Median (ms)", "中位数（毫秒）", "中位數（毫秒）"},
    {ReportText::Percentile95, "95th percentile (ms)", "第 95 百分位（毫秒）",
     "第 95 百分位（毫秒）"},
    {ReportText::Milliseconds, "Milliseconds", "毫秒", "毫秒"},
    {ReportText::Stale, "Modules not seen since %1", "自 %1 起未出现的模组",
     "自 %1 起未出現的模組"},
    {ReportText::LastSeen, "Last seen", "最后出现", "最後出現"},
    {ReportText::None, "None.", "无。", "無。"},
    {ReportText::Shown, "%1 of %2 shown.", "显示 %2 个中的 %1 个。", "顯示 %2 個中的 %1 個。"},
    {ReportText::TableOf, "%1: the figures", "%1：数据", "%1：數據"},
    {ReportText::SourceWindow, "window", "窗口", "視窗"},
    {ReportText::SourceCli, "command line", "命令行", "命令列"},
    {ReportText::OutcomeSuccess, "success", "成功", "成功"},
    {ReportText::OutcomeNoReply, "no reply", "无回应", "無回應"},
    {ReportText::OutcomeNotConnected, "not connected", "未连线", "未連線"},
    {ReportText::OutcomeError, "error", "错误", "錯誤"},
    {ReportText::OutcomeChanged, "changed", "已变更", "已變更"},
    {ReportText::OutcomeUnchanged, "unchanged", "未变更", "未變更"},
};

constexpr int kRowCount = int(ReportText::OutcomeUnchanged) + 1;
static_assert(std::size(kRows) == kRowCount, "one row per report text");

constexpr bool rowsInOrder()
{
    for (int i = 0; i < kRowCount; ++i) {
        if (int(kRows[i].text) != i)
            return false;
    }
    return true;
}
static_assert(rowsInOrder(), "the rows follow the enumeration");

int column(int language)
{
    return language >= 0 && language < 3 ? language : 0;
}

} // namespace

QString ReportString(ReportText text, int language)
{
    const Row &row = kRows[int(text)];
    const char *texts[] = {row.english, row.simplified, row.traditional};
    return QString::fromUtf8(texts[column(language)]);
}

QString OperationCaption(const QString &operation, int language)
{
    static const QHash<QString, Msg> captions{{QStringLiteral("scan"), Msg::ScanModule},
                                              {QStringLiteral("set-test-data"), Msg::SetData},
                                              {QStringLiteral("clear"), Msg::ClearData},
                                              {QStringLiteral("reader-test"), Msg::ReaderTest},
                                              {QStringLiteral("loop-test"), Msg::LoopTest},
                                              {QStringLiteral("web-page"), Msg::RefreshWeb}};
    const auto found = captions.find(operation);
    return found == captions.end()
               ? EscapeText(operation)
               : MessageCatalogue::instance().text(found.value(), column(language));
}

QString SourceCaption(const QString &source, int language)
{
    if (source == QLatin1String("window"))
        return ReportString(ReportText::SourceWindow, language);
    if (source == QLatin1String("cli"))
        return ReportString(ReportText::SourceCli, language);
    return EscapeText(source);
}

QString OutcomeCaption(const QString &outcome, int language)
{
    static const QHash<QString, ReportText> captions{
        {QStringLiteral("success"), ReportText::OutcomeSuccess},
        {QStringLiteral("no-reply"), ReportText::OutcomeNoReply},
        {QStringLiteral("not-connected"), ReportText::OutcomeNotConnected},
        {QStringLiteral("error"), ReportText::OutcomeError},
        {QStringLiteral("changed"), ReportText::OutcomeChanged},
        {QStringLiteral("unchanged"), ReportText::OutcomeUnchanged}};
    const auto found = captions.find(outcome);
    return found == captions.end() ? EscapeText(outcome) : ReportString(found.value(), language);
}

QString ReportLanguageTag(int language)
{
    static const char *tags[] = {"en", "zh-CN", "zh-TW"};
    return QString::fromLatin1(tags[column(language)]);
}
