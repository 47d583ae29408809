#include "app/qt/captions.h"

#include <array>

namespace app {
namespace {

// The blanks inside "Keyboard     Joystick" and "Клавиатура   Джойстик" line the words up
// over the two columns of binding buttons.
constexpr auto kLines = std::to_array<std::string_view>({
    "MFile=File|Файл",
    "MDemo=Demo|Демо",
    "MStart1Player=Start 1 Player|Один игрок",
    "MStart2Player=Start 2 Player|Два игрока",
    "MStartDuel=Start Duel|Дуэль",
    "MOptions=Options|Настройки",
    "MLevelEditor=Level Editor|Редактор уровня",
    "MSelectLevel=Select Level|Выбор уровня",
    "PaletteType=PaletteType 16 bits|Палитра 16 бит",
    "PauseOnOffP1=Pause On/Off|Пауза",
    "MExit=Exit|Выход",
    "MAbout=About|О программе",
    "CancelButton=Cancel|Отмена",
    "StaticText16=Volume|Громкость",
    "StaticText1=Up|Вверх",
    "StaticText2=Down|Вниз",
    "StaticText3=Left|Влево",
    "StaticText4=Right|Вправо",
    "StaticText5=Fire|Огонь",
    "StaticText12=Start|Старт",
    "StaticText14=Keyboard     Joystick|Клавиатура   Джойстик",
    "StaticText17=Pause|Пауза",
    "StaticText6=Up|Вверх",
    "StaticText7=Down|Вниз",
    "StaticText8=Left|Влево",
    "StaticText9=Right|Вправо",
    "StaticText10=Fire|Огонь",
    "StaticText13=Start|Старт",
    "StaticText15=Keyboard     Joystick|Клавиатура   Джойстик",
    "Button2=Defaults|Базовые",
    "CancelButton=Cancel|Отмена",
    "StaticText1=Level:|Уровень:",
    "SoundGroup=Sound|Звук",
    "DifficultyGroup=Difficulty|Сложность",
    "GroupBox1=Player 1|Игрок 1",
    "GroupBox2=Player 2|Игрок 2",
    "MLanguage=Language (Язык)|Язык (Language)",
    "MWatchReplay=Watch Replay…|Смотреть повтор…",
    "ReplayFiles=Kordavel replays|Повторы Kordavel",
    "ReplayWatching=Replay (P pause, F ×4, → a minute on, End to the end, Esc stop)|Повтор (P "
    "пауза, F ×4, → на минуту вперёд, End в конец, Esc выход)",
    "ReplayPaused=paused|пауза",
    "OverlayReplayPaused=Replay paused: P plays on, F ×4, Esc stops|Повтор на паузе: P — дальше, "
    "F — ×4, Esc — выход",
    "OverlayReplayFast=Replay ×4: F plays at normal speed|Повтор ×4: F — обычная скорость",
    "OverlayReplaySkip=Skipping ahead (Esc stops):|Перемотка (Esc — выход):",
    "MNetworkGame=Network Game…|Сетевая игра…",
    "MControls=Controls|Управление",
    "NetHost=Host a game|Создать игру",
    "NetJoin=Join a game|Присоединиться к игре",
    "NetAddress=Address:|Адрес:",
    "NetPort=Port:|Порт:",
    "NetMode=Game:|Игра:",
    "NetTwoPlayers=Two players|Два игрока",
    "NetDuel=Duel|Дуэль",
    "NetStage=Stage:|Уровень:",
    "NetWaitJoin=Waiting for a player to join on port|Ожидание второго игрока на порту",
    "NetConnecting=Connecting…|Соединение…",
    "NetWaitPeer=Waiting for the other player|Ожидание другого игрока",
    "NetOver=The network game is over.|Сетевая игра окончена.",
    "NetLeft=You left the network game.|Вы вышли из сетевой игры.",
    "NetPeerLeft=The other player left the game.|Другой игрок вышел из игры.",
    "NetLost=The connection to the other player was lost.|Связь с другим игроком потеряна.",
    "NetRefused=A player was refused:|Игрок не принят:",
    "NetRefusedByHost=The host refused the game:|Хозяин игры отказал:",
    "NetApart=The two games went apart; the game was stopped and the replays were saved for the "
    "report.|Игры на двух машинах разошлись; игра остановлена, повторы сохранены для отчёта.",
    "NetNobodyJoined=Nobody joined the game.|Никто не присоединился к игре.",
    "NetNoAnswer=The other machine does not answer.|Другая машина не отвечает.",
    "NetError=The network game stopped:|Сетевая игра остановлена:",
    "NetLeaveAsk=Leave the network game? It ends for both players.|Выйти из сетевой игры? Она "
    "закончится для обоих игроков.",
    "NetLeaving=Leaving the game…|Выход из игры…",
    "NetBusy=The host is busy; trying again…|Хозяин игры занят; повторная попытка…",
    "NetBusyEnd=The host is busy with another player.|Хозяин игры занят другим игроком.",
    "NetPortWord=port|порт",
    "NetEndGameAsk=End the game you are playing and start a network game?|Закончить текущую игру "
    "и начать сетевую?",
    "NetHostStarts=The host starts the stage.|Уровень начинает хозяин игры.",
    "NetOnlyHostPauses=Only the host pauses the game.|Паузу ставит только хозяин игры.",
    "NetHostPaused=The host paused the game.|Хозяин игры поставил паузу.",
    "NetYouPaused=You paused the game for both players.|Вы поставили игру на паузу для обоих "
    "игроков.",
    "OverlayReplayKeys=Replay: P pause, F ×4, → a minute on, End to the end, Esc stop|Повтор: P "
    "пауза, F ×4, → на минуту вперёд, End в конец, Esc выход",
    "OverlayReplayEnded=The replay has ended.|Повтор окончен.",
});

}  // namespace

std::span<const std::string_view> CaptionLines() {
    return kLines;
}

std::optional<std::string> CaptionFor(std::string_view component, int language, int occurrence) {
    std::optional<std::string_view> first, chosen;
    int seen = 0;
    for (std::string_view line : kLines) {
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || line.substr(0, equals) != component) continue;
        if (!first) first = line;
        if (seen++ == occurrence) {
            chosen = line;
            break;
        }
    }
    if (!chosen) chosen = first;
    if (chosen) {
        const std::string_view line = *chosen;
        const size_t equals = line.find('=');
        const std::string_view text = line.substr(equals + 1);
        if (text.empty()) return std::nullopt;
        const size_t bar = text.find('|');
        if (language == 0) return std::string(text.substr(0, bar));
        return bar == std::string_view::npos ? std::string() : std::string(text.substr(bar + 1));
    }
    return std::nullopt;
}

namespace {

struct Translation {
    std::string_view english, russian;
};

// Pieces of the game's messages, longest first where one contains another.
constexpr Translation kMessagePieces[] = {
    {"The level was not saved: ", "Уровень не сохранён: "},
    {"The replay was not saved: ", "Запись игры не сохранена: "},
    {"cannot write ", "не удалось записать "},
    {"the replay parts from the game at tick ", "повтор расходится с игрой на такте "},
    // A network game's refusals.
    {"A player could not join: ", "Игрок не смог присоединиться: "},
    {"A connection that said nothing was turned away.",
     "Соединение, не приславшее ни слова, отклонено."},
    {"your copy of Kordavel cannot talk to the host's (another network version)",
     "ваша копия Kordavel не может связаться с копией хозяина игры (другая версия сетевой игры)"},
    {"their copy of Kordavel cannot talk to yours (another network version)",
     "их копия Kordavel не может связаться с вашей (другая версия сетевой игры)"},
    {"you run Kordavel ", "у вас Kordavel "},
    {", the host Kordavel ", ", у хозяина игры Kordavel "},
    {"they run Kordavel ", "у них Kordavel "},
    {", you Kordavel ", ", у вас Kordavel "},
    {"your graphics file differs from the host's",
     "ваш файл графики отличается от файла хозяина игры"},
    {"their graphics file differs from yours", "их файл графики отличается от вашего"},
    {"your font file differs from the host's", "ваш файл шрифта отличается от файла хозяина игры"},
    {"their font file differs from yours", "их файл шрифта отличается от вашего"},
    {"Settings could not be saved to ", "Не удалось сохранить настройки в "},
    {"Unknown error!", "Неизвестная ошибка!"},
    {"\" not found", "\" не найден"},
    {"File \"", "Файл \""},
};

constexpr Translation kUiTexts[] = {
    {"About", "О программе"},
    // The browser page's own texts.
    {"Force feedback", "Отдача джойстика"},
    {"Open a .kdr file…", "Открыть файл .kdr…"},
    {"Download this session", "Скачать эту сессию"},
    {"Close", "Закрыть"},
    {"OK", "ОК"},
    {"No games played yet.", "Сыгранных игр пока нет."},
    {"The game has ended; reload the page to play again.",
     "Игра закончена; чтобы играть снова, обновите страницу."},
    {"Network games are played with the desktop program: run kordavel and choose File, Network "
     "Game. The page plays on one machine only.",
     "В сетевую игру играют в настольной программе: запустите kordavel и выберите Файл, Сетевая "
     "игра. Страница играет только на одном компьютере."},
    {"The game in the browser, from the same code as the desktop program.",
     "Игра в браузере, из того же кода, что и настольная программа."},
    {"Esc ends the demonstration, the score tally and the level editor. Alt+Enter: full screen. "
     "Watching a replay: P pause, F four times as fast, Esc stop. The bindings are changed in "
     "File, Options.",
     "Esc завершает демонстрацию, подсчёт очков и редактор уровня. Alt+Enter: полный экран. "
     "Просмотр повтора: P пауза, F вчетверо быстрее, Esc выход. Клавиши меняются в меню Файл, "
     "Настройки."},
    {"Version %1", "Версия %1"},
    {"Made by the Kordavel developers", "Сделано разработчиками Kordavel"},
    {"Press Up", "Нажмите: Вверх"},
    {"Press Down", "Нажмите: Вниз"},
    {"Press Left", "Нажмите: Влево"},
    {"Press Right", "Нажмите: Вправо"},
    {"Press Fire", "Нажмите: Огонь"},
    {"Press Start", "Нажмите: Старт"},
    {"Press Pause", "Нажмите: Пауза"},
    {"Player 1", "Игрок 1"},
    {"Player 2", "Игрок 2"},
    {"keyboard", "клавиатура"},
    {"gamepad", "джойстик"},
    {"Up", "Вверх"},
    {"Down", "Вниз"},
    {"Left", "Влево"},
    {"Right", "Вправо"},
    {"Fire", "Огонь"},
    {"Start", "Старт"},
    {"Pause", "Пауза"},
    {"The level file holds no stage.", "В файле уровней нет ни одного уровня."},
    {"Date", "Дата"},
    {"Mode", "Режим"},
    {"Stage", "Уровень"},
    {"Length", "Длительность"},
    {"Scores", "Очки"},
    {"One player", "Один игрок"},
    {"Two players", "Два игрока"},
    {"Duel", "Дуэль"},
    {"No game", "Без игры"},
    {"Other File…", "Другой файл…"},
    {"The replay was not saved: ", "Запись игры не сохранена: "},
    {"Paused", "Пауза"},
    {"Yes", "Да"},
    {"No", "Нет"},
};

}  // namespace

std::string MessageText(const std::string& english, int language) {
    if (language == 0) return english;
    std::string text = english;
    for (const Translation& piece : kMessagePieces) {
        const std::string from(piece.english), to(piece.russian);
        for (size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    }
    return text;
}

std::string UiText(std::string_view english, int language) {
    if (language != 0)
        for (const Translation& text : kUiTexts)
            if (text.english == english) return std::string(text.russian);
    return std::string(english);
}

}  // namespace app
