#pragma once
// The caption table of the menus and dialogs: one line per component, "Name=English|Russian".
// Some names occur twice (the options dialog and the level dialog both have a StaticText1 and a
// CancelButton); the lines of a name are taken by the forms that have a component of that name,
// in the order the forms are created: the first such form takes the first line, the next the
// second.
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ui {

std::span<const std::string_view> CaptionLines();

// The caption of a component in the language (0 English, anything else Russian), or nothing
// when the table has no line for it or the line's text is empty.
// occurrence: how many forms created earlier have a component of this name (0 for the first);
// past the table's last line of the name, the first line is taken.
std::optional<std::string> CaptionFor(std::string_view component, int language, int occurrence = 0);

// A message box's text in the language: the game's messages are written in English and
// translated here, piece by piece, so that file names inside them stay as they are.
std::string MessageText(const std::string& english, int language);

// Texts of the windows that the caption table does not cover (the about box, the capture
// prompts and the dialogs' notes), by their English text.
std::string UiText(std::string_view english, int language);

}  // namespace ui
