#pragma once
// The caption table of the menus and dialogs: one line per component, "Name=English|Russian".
// A component is found by its name alone, and when a name occurs twice the first line wins.
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace app {

std::span<const std::string_view> CaptionLines();

// The caption of a component in the language (0 English, anything else Russian), or nothing
// when the table has no line for it or the line's text is empty.
std::optional<std::string> CaptionFor(std::string_view component, int language);

}  // namespace app
