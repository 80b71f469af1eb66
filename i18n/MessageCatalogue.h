#pragma once

#include <QString>

#include <array>

// One row per text the window shows; the module operations pick their status texts by these names.
enum class Msg {
    Banner,
    Title,
    StartScanModule,
    Exit,
    Connecting,
    ConnectOk,
    Disconnect,
    SetData,
    SetDataOk,
    SetDataError,
    ReaderTest,
    ReaderCardOk,
    ReaderCardError,
    LoopTest,
    LoopTestOk,
    LoopTestError,
    ClearData,
    ScanModule,
    RefreshWeb,
    VelqaIp,
};

enum class Language { English = 0, ChineseGB = 1, ChineseBig5 = 2 };

class MessageCatalogue
{
public:
    static constexpr int RowCount = static_cast<int>(Msg::VelqaIp) + 1;
    static constexpr int ColumnCount = 3;

    // The table is decoded on first use; main() touches it before anything else exists.
    [[nodiscard]] static const MessageCatalogue &instance();

    [[nodiscard]] QString text(Msg row, Language column) const;
    [[nodiscard]] QString text(Msg row, int column) const;

private:
    MessageCatalogue();

    std::array<std::array<QString, ColumnCount>, RowCount> m_texts;
};

// The row's text in the column of the current language (LanguageIndex()).
[[nodiscard]] QString CatalogueText(Msg row);
