#pragma once

#include <QString>

// Process-wide language state: the catalogue column in use and the name stored as LanguageFlag.
[[nodiscard]] int LanguageIndex();
[[nodiscard]] QString LanguageName();

// Reads the stored choice: the user's own when there is one, else the per-machine one. A missing,
// unreadable or odd value leaves English.
void LoadLanguage();

// Sets both values and stores the name per machine, or in the user's own settings where the
// per-machine store cannot be written; a failed save still switches the language for this run.
void SelectLanguage(int index, const QString &name);

// Back to English without touching the store (for tests and a fresh start).
void ResetLanguage();

inline constexpr char LanguageOrganization[] = "KAVRO";
inline constexpr char LanguageApplication[] = "LinkConfig";
inline constexpr char LanguageKey[] = "LanguageFlag";
inline constexpr char LanguageNameEnglish[] = "English";
inline constexpr char LanguageNameGB[] = "ChineseGB";
inline constexpr char LanguageNameBig5[] = "ChineseBIG5";
