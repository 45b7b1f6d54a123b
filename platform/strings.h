#pragma once
// String tables: the texts of the running language, keyed by string id. The tables are data
// (res/strings/en.tsv and zh.tsv: "id<TAB>text", with \t \n \\ escapes) compiled in as resources.
#include <cstdint>

#include "platform/text.h"

enum class UiLanguage { English, Chinese };

// Chooses the running language; done once at start.
void SetUiLanguage(UiLanguage lang);
UiLanguage GetUiLanguage();

// The text of `id` in the running language; empty when the table has no such id.
WString LoadStringW(std::uint32_t id);
// The text of `id` in a given language.
WString LoadStringW(std::uint32_t id, UiLanguage lang);
bool HasString(std::uint32_t id, UiLanguage lang);
