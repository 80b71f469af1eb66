#pragma once

#include <QString>

// Texts that only a screen reader speaks: names and descriptions of controls that show no caption
// of their own, the lamp in words and the window's announcements. A table of its own beside the
// message catalogue, in the same three language columns.
enum class Spoken {
    DataSlots,
    CardNumber,
    LoopReply,
    ModuleWebPage,
    LampNotYetOk,
    LampError,
    LampOk,
    SimplifiedChinese,
    TraditionalChinese,
    // "%1, %2": what a button does, then its key.
    WithKey,
    // An empty field.
    Empty,
    // Said in the language just chosen.
    LanguageChosen,
};

inline constexpr int SpokenRowCount = static_cast<int>(Spoken::LanguageChosen) + 1;

// The row's text in a language column (0 English, 1 Simplified, 2 Traditional Chinese); an
// unknown column gives English.
[[nodiscard]] QString SpokenText(Spoken row, int column);
// The row's text in the current language (LanguageIndex()).
[[nodiscard]] QString SpokenText(Spoken row);
