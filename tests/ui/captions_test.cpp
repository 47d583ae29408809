// The caption table: English and Russian texts by component name, the first line of a name
// winning, and lines that parse.
#include <gtest/gtest.h>

#include "ui/captions.h"

namespace {

using ui::CaptionFor;

TEST(Captions, MenuItemsInBothLanguages) {
    EXPECT_EQ(CaptionFor("MFile", 0), "File");
    EXPECT_EQ(CaptionFor("MFile", 1), "Файл");
    EXPECT_EQ(CaptionFor("MStart1Player", 1), "Один игрок");
    EXPECT_EQ(CaptionFor("PaletteType", 0), "PaletteType 16 bits");
    EXPECT_EQ(CaptionFor("PaletteType", 1), "Палитра 16 бит");
    EXPECT_EQ(CaptionFor("PauseOnOffP1", 0), "Pause On/Off");
    EXPECT_EQ(CaptionFor("MAbout", 1), "О программе");
    EXPECT_EQ(CaptionFor("MLanguage", 0), "Language (Язык)");
    EXPECT_EQ(CaptionFor("MLanguage", 1), "Язык (Language)");
    // Any language other than 0 is Russian.
    EXPECT_EQ(CaptionFor("MExit", 7), "Выход");
}

TEST(Captions, ANameTheTableHoldsTwiceIsLookedUpPerForm) {
    // StaticText1 names both a binding label ("Up", options dialog, created first) and the
    // level label ("Level:", level dialog, created last).
    EXPECT_EQ(CaptionFor("StaticText1", 0), "Up");
    EXPECT_EQ(CaptionFor("StaticText1", 1, 0), "Вверх");
    EXPECT_EQ(CaptionFor("StaticText1", 0, 1), "Level:");
    EXPECT_EQ(CaptionFor("StaticText1", 1, 1), "Уровень:");
    EXPECT_EQ(CaptionFor("CancelButton", 1, 1), "Отмена");
    // A form past the table's lines of a name takes the first.
    EXPECT_EQ(CaptionFor("StaticText1", 0, 2), "Up");
    EXPECT_EQ(CaptionFor("MFile", 0, 1), "File");
}

TEST(Captions, MessagesAndOtherTextsFollowTheLanguage) {
    EXPECT_EQ(ui::MessageText("File \"data\\tank.fnt\" not found!", 1),
              "Файл \"data\\tank.fnt\" не найден!");
    EXPECT_EQ(ui::MessageText("File \"data\\tank.fnt\" not found!", 0),
              "File \"data\\tank.fnt\" not found!");
    EXPECT_EQ(ui::MessageText("Unknown error!!", 1), "Неизвестная ошибка!!");
    // What follows a translated phrase (an error's own text) is kept.
    EXPECT_EQ(ui::MessageText("The level was not saved: disk full", 1),
              "Уровень не сохранён: disk full");
    EXPECT_EQ(ui::UiText("Press Fire", 1), "Нажмите: Огонь");
    EXPECT_EQ(ui::UiText("Press Fire", 0), "Press Fire");
    EXPECT_EQ(ui::UiText("not a known text", 1), "not a known text");
}

TEST(Captions, InnerBlanksAreKept) {
    EXPECT_EQ(CaptionFor("StaticText14", 0), "Keyboard     Joystick");
    EXPECT_EQ(CaptionFor("StaticText15", 1), "Клавиатура   Джойстик");
}

TEST(Captions, UnknownNamesAndPrefixesHaveNoCaption) {
    EXPECT_FALSE(CaptionFor("MLangEnglish", 0));  // the radio items keep their design captions
    EXPECT_FALSE(CaptionFor("N320x200Alt11", 1));
    EXPECT_FALSE(CaptionFor("MStart", 0));  // a prefix of a name is not the name
    EXPECT_FALSE(CaptionFor("", 0));
}

TEST(Captions, EveryLineHasANameAndTwoTexts) {
    EXPECT_GE(ui::CaptionLines().size(), 37u);  // the original table, then later additions
    for (std::string_view line : ui::CaptionLines()) {
        const size_t equals = line.find('=');
        ASSERT_NE(equals, std::string_view::npos) << line;
        EXPECT_GT(equals, 0u) << line;
        const size_t bar = line.find('|', equals);
        ASSERT_NE(bar, std::string_view::npos) << line;
        EXPECT_GT(bar, equals + 1) << line;       // an English text
        EXPECT_LT(bar + 1, line.size()) << line;  // a Russian text
    }
}

}  // namespace
