#include "ui/captions.h"

#include <algorithm>
#include <array>
#include <vector>

namespace ui {
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
    "NetWaitFor=Waiting for|Ждём",
    "NetGiveUpAsk=Stop waiting? The game ends for both players.|Перестать ждать? Игра закончится "
    "для обоих игроков.",
    "NetRejoin=Rejoin the game you dropped out of|Вернуться в прерванную игру",
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
    "NetSeconds=s|с",
    "OverlayLevelSaved=Saved as stage|Сохранён как уровень",
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
    "NetworkGroup=Network games|Сетевые игры",
    "RouterCheck=Open my router for network games|Открывать роутер для сетевых игр",
    "NetNameLabel=Name on the network:|Имя в сети:",
    "NetAddressHint=address, or address and code|адрес, или адрес и код",
    "NetGamesHere=Games on this network:|Игры в этой сети:",
    "NetWrongCode=The host refused the game: the invite code is missing or wrong.|Хозяин игры "
    "отказал: код приглашения не указан или неверен.",
    "NetWatch=Watch a game|Смотреть игру",
    "NetWatchWait=Waiting for the game to start…|Ожидание начала игры…",
    "NetWatchingHost=Watching|Смотрим игру",
    "NetWatchers={n} watching|зрителей: {n}",
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

// Pieces of the game's messages, longest first where one contains another. In a piece, {n}
// stands for a number and {q} for what stands between double quotes (a path, an address); the
// Russian takes them in the same order.
constexpr Translation kMessagePieces[] = {
    // The level file, the settings file and the editor's save.
    {"The level file \"{q}\" holds {n} records; only the first {n} are used (stages 1 to {n})",
     "Файл уровней \"{q}\": записей в нём {n}, используются только первые {n} (уровни с 1 по "
     "{n})"},
    {"the level file is full ({n} records); no further stage could be played",
     "файл уровней заполнен (записей: {n}); ещё один уровень нельзя было бы сыграть"},
    {"\"{q}\" cannot be written", "\"{q}\": запись невозможна"},
    {"\"{q}\" cannot be read", "\"{q}\": чтение невозможно"},
    {"\"{q}\" does not exist", "\"{q}\" не существует"},
    {": the file is too large", ": файл слишком велик"},
    {": it cannot be read", ": его не удаётся прочитать"},
    // A network game that cannot start or stops.
    {"the network library could not be started", "не удалось запустить сетевую библиотеку"},
    {"\"{q}\" is not HOST:PORT", "\"{q}\" — не адрес вида ХОСТ:ПОРТ"},
    {"\"{q}\" is not a port number (1 to 65535)", "\"{q}\" — не номер порта (от 1 до 65535)"},
    {"\"{q}\" is not an address of this machine", "\"{q}\" — не адрес этой машины"},
    {"cannot listen on port {n} (is it in use?)",
     "не удаётся принимать соединения на порту {n} (не занят ли он?)"},
    {"cannot find the address \"{q}\"", "не удаётся найти адрес \"{q}\""},
    {"cannot open a network socket", "не удаётся открыть сетевой сокет"},
    {"cannot connect to ", "не удаётся соединиться с "},
    {"stage {n} is not in the level file (it holds {n} stages)",
     "уровня {n} нет в файле уровней (уровней в нём: {n})"},
    {"Stage {n} is not in the level file.", "Уровня {n} нет в файле уровней."},
    {"The other player stopped at tick {n}, which this game had passed.",
     "Другой игрок остановился на такте {n}, который эта игра уже прошла."},
    {"The other player's game stopped: ", "Игра другого игрока остановлена: "},
    {"The host asked for a game that is neither a two-player game nor a duel.",
     "Хозяин игры предложил игру, которая не является ни игрой вдвоём, ни дуэлью."},
    {"The game's data files cannot be read.", "Файлы данных игры не удаётся прочитать."},
    {"An error ended the game: ", "Игру прервала ошибка: "},
    {"The host is busy with another player.", "Хозяин игры занят другим игроком."},
    {"No answer from ", "Нет ответа от "},
    // Watching a network game.
    {"The game already has eight spectators.", "В игре уже восемь зрителей."},
    {"The game is over.", "Игра окончена."},
    {"The game stopped: ", "Игра остановлена: "},
    {"The game ended before it began.", "Игра закончилась, не начавшись."},
    {"The connection to the host was lost.", "Связь с хозяином игры потеряна."},
    {"The host refused: the invite code is missing or wrong.",
     "Хозяин игры отказал: код приглашения не указан или неверен."},
    {"The host refused this machine.", "Хозяин игры отказал этой машине."},
    {"The host refused: ", "Хозяин игры отказал: "},
    {"This machine fell too far behind the game and stopped watching.",
     "Эта машина слишком отстала от игры и перестала её смотреть."},
    {"The host kept turning this machine away.", "Хозяин игры не принимал эту машину."},
    {"The host sent a game this program cannot play.",
     "Хозяин игры прислал игру, которую эта программа не может показать."},
    // Replays that are refused.
    {"the replay was recorded by Kordavel build ", "повтор записан сборкой Kordavel "},
    {" and this is Kordavel build ", ", а это сборка Kordavel "},
    {"; it would not play the same game", "; игра пошла бы иначе"},
    {"the replay was recorded with another \"{q}\" than the one here",
     "повтор записан с другим файлом \"{q}\", не с тем, что здесь"},
    {"this is not a Kordavel replay", "это не повтор Kordavel"},
    {"the file ends inside the header (truncated?)", "файл обрывается в заголовке (обрезан?)"},
    {"the file is damaged or truncated (its checksum does not match)",
     "файл повреждён или обрезан (контрольная сумма не совпадает)"},
    {"the file is too large to be a replay", "файл слишком велик для повтора"},
    {"\"{q}\" is too large to be a replay", "\"{q}\" слишком велик для повтора"},
    {"the replay is of format {n}, written by an older Kordavel; this program plays formats {n} "
     "to {n} only",
     "повтор в формате {n}, записан более старой версией Kordavel; эта программа играет только "
     "форматы с {n} по {n}"},
    {"the replay is of format {n}; this program plays formats {n} to {n} only",
     "повтор в формате {n}; эта программа играет только форматы с {n} по {n}"},
    {"cannot read \"{q}\"", "не удаётся прочитать \"{q}\""},
    {"The replay could not be started.", "Повтор не удалось запустить."},
    {"The replay's start is damaged: ", "Начало повтора повреждено: "},
    {"The level was not saved: ", "Уровень не сохранён: "},
    {"The replay was not saved: ", "Запись игры не сохранена: "},
    {"the browser's storage is blocked", "хранилище браузера заблокировано"},
    {"the browser's storage is full", "хранилище браузера заполнено"},
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
    // Hosting: the router, the invite code, the players nearby.
    {"Asking the router to open port ", "Запрос к роутеру: открыть порт "},
    {"Friends join at ", "Друзья присоединяются по адресу "},
    {" with the code ", " с кодом "},
    {" (the router opened it by ", " (роутер открыл порт по "},
    {"; but the router's outside address ", "; но внешний адрес роутера "},
    {" is private: another router, or the provider's, sits in front of it",
     " частный: перед ним стоит ещё один роутер или роутер провайдера"},
    {"The router was not opened: ", "Роутер не открыт: "},
    {"no router answered to UPnP or NAT-PMP", "ни один роутер не ответил по UPnP или NAT-PMP"},
    {"there is no default gateway to ask", "нет шлюза по умолчанию, которого можно спросить"},
    {"the router says it is not connected to the internet",
     "роутер сообщает, что не подключён к интернету"},
    {"the router refused to open the port", "роутер отказался открыть порт"},
    {"the router stopped forwarding the port", "роутер перестал пересылать порт"},
    {"Players on your network join at ", "Игроки вашей сети присоединяются по адресу "},
    {"from outside, forward UDP port ", "извне — перенаправьте UDP-порт "},
    {"From outside, forward UDP port ", "Извне — перенаправьте UDP-порт "},
    {" to this computer by hand and give the code ", " на этот компьютер вручную и сообщите код "},
    {"from outside, they need UDP port ", "извне нужен UDP-порт "},
    {"From outside, they need UDP port ", "Извне нужен UDP-порт "},
    {" forwarded to this computer and the code ", ", перенаправленный на этот компьютер, и код "},
    {"cannot answer on the local network", "не удаётся отвечать в локальной сети"},
    {"A player gave a wrong invite code.", "Игрок указал неверный код приглашения."},
    {"A connection that was no player was turned away.",
     "Соединение, которое не было игроком, отклонено."},
    {"cannot look for games: ", "не удаётся искать игры: "},

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
    {"Esc ends the demonstration, the score tally and the level editor. Alt+Enter: full screen; "
     "Alt+1, Alt+2: the picture at 320 x 200, 640 x 400 (a third press fits it to the page). "
     "F10: the File menu. Watching a replay: P pause, F four times as fast, → a minute on, End "
     "to the end, Esc stop. The bindings are changed in File, Options.",
     "Esc завершает демонстрацию, подсчёт очков и редактор уровня. Alt+Enter: полный экран; "
     "Alt+1, Alt+2: картинка 320 x 200, 640 x 400 (третье нажатие — по размеру страницы). F10: "
     "меню Файл. Просмотр повтора: P пауза, F вчетверо быстрее, → на минуту вперёд, End в конец, "
     "Esc выход. Клавиши меняются в меню Файл, Настройки."},
    {"Version %1", "Версия %1"},
    {"The browser keeps nothing for this page (its storage is blocked): the settings, the levels "
     "made in the editor and the games played last only until the page is closed.",
     "Браузер ничего не хранит для этой страницы (хранилище заблокировано): настройки, уровни из "
     "редактора и сыгранные игры сохранятся только до закрытия страницы."},
    {"The browser's storage for this page is full: the settings, the levels made in the editor "
     "and the games played may not be kept.",
     "Хранилище браузера для этой страницы заполнено: настройки, уровни из редактора и сыгранные "
     "игры могут не сохраниться."},
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
    {"Network", "Сеть"},
    {"Host", "Хозяин игры"},
    {"Joiner", "Гость"},
    {"Spectator", "Зритель"},
    {"No replays yet.", "Повторов пока нет."},
    {"The replay was not saved: ", "Запись игры не сохранена: "},
    {"Paused", "Пауза"},
    {"Kordavel Options", "Настройки Kordavel"},
    {"Select Level", "Выбор уровня"},
    {"Made in the editor:", "Из редактора:"},
    {"Yes", "Да"},
    {"No", "Нет"},
    {"playing", "идёт игра"},
};

}  // namespace

namespace {

// The end of a {n} (digits) or {q} (anything but a double quote) starting at from, or npos.
size_t HoleEnd(const std::string& text, size_t from, char kind) {
    size_t end = from;
    if (kind == 'n')
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    else
        end = std::min(text.find('"', from), text.size());
    return end > from || kind == 'q' ? end : std::string::npos;
}

// Replaces every match of a piece with holes; the holes' texts go into the Russian in order.
void ReplaceWithHoles(std::string& text, std::string_view english, std::string_view russian) {
    std::vector<std::string_view> literals;
    std::string kinds;
    for (size_t start = 0;;) {
        const size_t hole = english.find('{', start);
        if (hole == std::string_view::npos || hole + 2 >= english.size()) {
            literals.push_back(english.substr(start));
            break;
        }
        literals.push_back(english.substr(start, hole - start));
        kinds += english[hole + 1];
        start = hole + 3;
    }
    for (size_t at = text.find(literals[0]); at != std::string::npos;
         at = text.find(literals[0], at + 1)) {
        std::vector<std::string> holes;
        size_t end = at + literals[0].size();
        for (size_t i = 0; i < kinds.size() && end != std::string::npos; ++i) {
            const size_t holeEnd = HoleEnd(text, end, kinds[i]);
            if (holeEnd == std::string::npos ||
                text.compare(holeEnd, literals[i + 1].size(), literals[i + 1]) != 0) {
                end = std::string::npos;
                break;
            }
            holes.push_back(text.substr(end, holeEnd - end));
            end = holeEnd + literals[i + 1].size();
        }
        if (end == std::string::npos) continue;
        std::string to;
        size_t used = 0;
        for (size_t i = 0; i < russian.size(); ++i) {
            if (russian[i] == '{' && i + 2 < russian.size() && russian[i + 2] == '}' &&
                used < holes.size()) {
                to += holes[used++];
                i += 2;
            } else {
                to += russian[i];
            }
        }
        text.replace(at, end - at, to);
        at += to.size() - 1;
    }
}

}  // namespace

std::string MessageText(const std::string& english, int language) {
    if (language == 0) return english;
    std::string text = english;
    for (const Translation& piece : kMessagePieces) {
        if (piece.english.find("{n}") != std::string_view::npos ||
            piece.english.find("{q}") != std::string_view::npos) {
            ReplaceWithHoles(text, piece.english, piece.russian);
            continue;
        }
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

}  // namespace ui
