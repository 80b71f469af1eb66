#include "SpokenText.h"

#include "Language.h"

#include <iterator>

struct SpokenRow
{
    Spoken row;
    const char *texts[3];
};

// The Chinese columns use the catalogue's own words: 资料/資料 for data, 模组/模組, 完成 for ok,
// 错误/錯誤 for error.
static constexpr SpokenRow Rows[] = {
    {Spoken::DataSlots, {"Data slots", u8"资料栏位", u8"資料欄位"}},
    {Spoken::CardNumber, {"Card number", u8"卡号", u8"卡號"}},
    {Spoken::LoopReply, {"Loop reply", u8"回路回应", u8"迴路回應"}},
    {Spoken::ModuleWebPage, {"Module web page", u8"模组网页", u8"模組網頁"}},
    {Spoken::LampNotYetOk,
     {"Status lamp: red, not yet ok", u8"状态灯：红色，尚未完成", u8"狀態燈：紅色，尚未完成"}},
    {Spoken::LampError,
     {"Status lamp: red, error", u8"状态灯：红色，错误", u8"狀態燈：紅色，錯誤"}},
    {Spoken::LampOk, {"Status lamp: yellow, ok", u8"状态灯：黄色，完成", u8"狀態燈：黃色，完成"}},
    {Spoken::SimplifiedChinese, {"Simplified Chinese", u8"简体中文", u8"簡體中文"}},
    {Spoken::TraditionalChinese, {"Traditional Chinese", u8"繁体中文", u8"繁體中文"}},
    {Spoken::WithKey, {"%1, %2", u8"%1，%2", u8"%1，%2"}},
    {Spoken::Empty, {"empty", u8"空白", u8"空白"}},
    {Spoken::LanguageChosen, {"Language: English", u8"语言：简体中文", u8"語言：繁體中文"}},
};

static constexpr bool rowsInOrder()
{
    for (int i = 0; i < SpokenRowCount; ++i) {
        if (static_cast<int>(Rows[i].row) != i)
            return false;
    }
    return true;
}

static_assert(std::size(Rows) == SpokenRowCount && rowsInOrder(), "one row per text, in order");

QString SpokenText(Spoken row, int column)
{
    const SpokenRow &entry = Rows[static_cast<std::size_t>(row)];
    return QString::fromUtf8(entry.texts[column >= 0 && column < 3 ? column : 0]);
}

QString SpokenText(Spoken row)
{
    return SpokenText(row, LanguageIndex());
}
