#include "app/qt/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTranslator>
#include <chrono>

#include "app/qt/about_form.h"
#include "app/qt/controls_list.h"
#include "app/qt/dialogs.h"
#include "app/qt/draw_surface.h"
#include "app/qt/keymap.h"
#include "app/qt/local_game.h"
#include "app/qt/net_dialog.h"
#include "app/qt/network_game.h"
#include "app/qt/replay_list.h"
#include "app/qt/replay_viewer.h"
#include "app/qt/watch_room.h"
#include "app/runner/command_line.h"
#include "app/sdl/sdl_input.h"
#include "core/controls/player_controls.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "net/preferences.h"
#include "net/session.h"
#include "recording/recorded_game.h"
#include "replay/format.h"
#include "ui/captions.h"

namespace app {

namespace {

// How long the window waits to be activated before it starts the game anyway: some window
// managers never give a new window the focus, and a Wayland compositor need not either. The
// activation comes within a few milliseconds where it comes at all.
constexpr int kActivationGraceMs = 100;

// Menu items that change only the window, its colours or its language: a replay or network game
// in front goes on.
bool WindowOnly(const std::string& item) {
    return item == "MLangEnglish" || item == "MLangRussian" || item == "PaletteType" ||
           item == "N320x200Alt11" || item == "N640x400Alt21" || item == "MFullWin";
}

// Alt+Enter, Alt+1 and Alt+2 as the menu items they stand for.
const char* DisplayItem(int code) {
    switch (code) {
        case 13:
            return "MFullWin";
        case '1':
            return "N320x200Alt11";
        case '2':
            return "N640x400Alt21";
        default:
            return nullptr;
    }
}

}  // namespace

TForm1::TForm1(SdlInput& input)
    : input_(input),
      dxTimer_(kdv::kTimerInterval, [this] { DXTimerTimer(); }),
      local_(std::make_unique<LocalGame>(static_cast<SessionHost&>(*this), input)) {
    Tag(this, "TForm1", "TForm1");
    setWindowTitle(QString::fromStdString(title_));
    x11ScanCodes_ = QGuiApplication::platformName() == "xcb";
    dxDraw_ = new DrawSurface(this);
    setCentralWidget(dxDraw_);
    dxDraw_->setProperty("vclClass", "TDXDraw");
    dxDraw_->setMouseTracking(true);  // the menu bar of full screen follows the mouse
    BuildMenu();
    dxTimer_.setObjectName("DXTimer");

    // Installed after the menu bar, so the window's keys are seen before the menu bar's own
    // filters and before focus chaining (Alt, Tab and the arrows belong to the game).
    qApp->installEventFilter(this);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
}

void TForm1::MakeForms(int count) {
    if (count <= formsMade_) return;
    const int first = formsMade_;
    for (; formsMade_ < count; ++formsMade_) {
        switch (formsMade_) {
            case 0:
                optionForm_ = new TOptionForm(this);
                optionForm_->SetCapture([this]() -> TInputForm& { return InputForm(); });
                optionForm_->SetGame(recorded_);
                break;
            case 1:
                aboutForm_ = new TAboutForm(this);
                break;
            case 2:
                inputForm_ = new TInputForm(this);
                inputForm_->SetGame(game_);
                inputForm_->onOpened = [this](double ms) {
                    dialogOpenMs_.emplace_back("TInputForm", ms);
                };
                break;
            default:
                selectForm_ = new TSelectForm(this);
                selectForm_->SetGame(recorded_);
                selectForm_->SetStockRecords(stockLevels_);
                break;
        }
    }
    if (captioned_) ScanApp(first + 1);  // Forms()[0] is the main window
}

TOptionForm& TForm1::OptionForm() {
    MakeForms(1);
    return *optionForm_;
}

TInputForm& TForm1::InputForm() {
    MakeForms(3);
    return *inputForm_;
}

TSelectForm& TForm1::SelectForm() {
    MakeForms(4);
    return *selectForm_;
}

QAction* TForm1::AddItem(QMenu* menu, const char* name, const char* caption) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    Tag(action, name, "TMenuItem");
    menu->addAction(action);
    const std::string item = name;
    connect(action, &QAction::triggered, this, [this, item] {
        // Until the game has started only Exit means anything.
        if (closing_ || (!started_ && item != "MExit")) return;
        BetweenTicks([this, item] { MenuCommand(item); });
    });
    return action;
}

void TForm1::AddOwnItem(QMenu* menu, const char* name, const char* caption,
                        std::function<void()> click) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    Tag(action, name, "TMenuItem");
    menu->addAction(action);
    connect(action, &QAction::triggered, this, [this, click] {
        if (started_ && !closing_) BetweenTicks(click);
    });
}

void TForm1::ControlsClick() {
    const int language = game_->Settings.language;
    QMessageBox box(
        QMessageBox::NoIcon,
        QString::fromStdString(ui::CaptionFor("MControls", language).value_or("Controls")),
        QString::fromStdString(ControlsText(game_->Settings, language)), QMessageBox::Ok, this);
    box.setObjectName("ControlsBox");
    ExecDialog(box, "ControlsBox");
}

void TForm1::BuildMenu() {
    QMenu* file = menuBar()->addMenu("File");
    Tag(file, "MFile", "TMenuItem");
    fileMenu_ = file;
    AddItem(file, "MDemo", "Demo");
    AddItem(file, "MStart1Player", "Start 1 Player");
    AddItem(file, "MStart2Player", "Start 2 Player");
    AddItem(file, "MStartDuel", "Start Duel");
    optionsItem_ = AddItem(file, "MOptions", "Options");
    QMenu* language = file->addMenu("Language");
    Tag(language, "MLanguage", "TMenuItem");
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    langEnglish_ = AddItem(language, "MLangEnglish", "English");
    langRussian_ = AddItem(language, "MLangRussian", "Russian");
    for (QAction* item : {langEnglish_, langRussian_}) {
        item->setCheckable(true);
        group->addAction(item);
    }
    AddItem(file, "MLevelEditor", "Level Editor");
    selectItem_ = AddItem(file, "MSelectLevel", "Select Level");
    // The game's own additions: captioned like the rest, but handled here, not by the game.
    AddOwnItem(file, "MWatchReplay", "Watch Replay…", [this] { WatchReplayClick(); });
    AddOwnItem(file, "MNetworkGame", "Network Game…", [this] { NetworkGameClick(); });
    AddOwnItem(file, "MControls", "Controls", [this] { ControlsClick(); });
    // Reached through the keys their captions show (the window's key handler).
    for (QAction* hidden : {AddItem(file, "N320x200Alt11", "320x200                         Alt+1"),
                            AddItem(file, "N640x400Alt21", "640x400                         Alt+2"),
                            AddItem(file, "MFullWin", "Full Screen               Alt+Enter")})
        hidden->setVisible(false);
    paletteType_ = AddItem(file, "PaletteType", "PaletteType 16 bits");
    paletteType_->setCheckable(true);
    AddItem(file, "PauseOnOffP1", "Pause On/Off                       P");
    AddItem(file, "MExit", "Exit");

    auto* about = new QAction("About", this);
    Tag(about, "MAbout", "TMenuItem");
    aboutItem_ = about;
    menuBar()->addAction(about);
    connect(about, &QAction::triggered, this, [this] {
        if (started_ && !closing_) BetweenTicks([this] { kdv::ClickMenu(*game_, "MAbout"); });
    });
    // A key held while a menu opens is let go there: the game must not keep it down.
    for (QMenu* menu : {file, language})
        connect(menu, &QMenu::aboutToShow, this, [this] { ReleaseKeys(); });
}

void TForm1::ReleaseKeys() {
    input_.Keys().ReleaseAll();
    heldByScanCode_.clear();
}

void TForm1::Attach(recording::RecordedGame& game, runner::ScriptPlayer* script,
                    std::optional<long> ticks) {
    recorded_ = &game;
    game_ = &game.Game();
    local_->Attach(game, script, ticks);
    if (optionForm_) optionForm_->SetGame(&game);
    if (inputForm_) inputForm_->SetGame(game_);
    if (selectForm_) selectForm_->SetGame(&game);
    if (script) script->formsJson = [this] { return FormsJson(); };
}

void TForm1::KeepReplays(std::filesystem::path folder, std::string recordFile) {
    local_->KeepReplays(folder, std::move(recordFile));
    replayFolder_ = std::move(folder);
}

void TForm1::WatchAtStart(std::string file, runner::ScriptPlayer* script) {
    watchAtStart_ = std::move(file);
    watchScript_ = script;
}

void TForm1::NetworkAtStart(const runner::CommandLine& options) {
    netAtStart_ = std::make_unique<runner::CommandLine>(options);
}

long TForm1::TicksRun() const {
    return local_->TicksRun();
}

void TForm1::Start() {
    kdv::FormCreate(*game_);
    show();
    activateWindow();
    QTimer::singleShot(kActivationGraceMs, this, [this] {
        if (!activated_) FormActivate();
    });
}

void TForm1::FormActivate() {
    if (activated_ || closing_) return;
    activated_ = true;
    if (!kdv::FormActivate(*game_)) {
        // The messages have been shown and the close is on its way.
        exitCode_ = runner::kExitStartup;
        return;
    }
    started_ = true;
    local_->Started();
    if (!watchAtStart_.empty() && !closing_) StartWatching(watchAtStart_);
    if (netAtStart_ && !closing_) StartNetwork(*netAtStart_);
}

bool TForm1::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowActivate:
            // Once only: closing a dialog activates the window again.
            if (!activated_ && isVisible())
                QMetaObject::invokeMethod(
                    this, [this] { FormActivate(); }, Qt::QueuedConnection);
            break;
        case QEvent::WindowDeactivate:
            // Every key counts as released once the window no longer has the keyboard.
            ReleaseKeys();
            break;
        default:
            break;
    }
    return QMainWindow::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseMove && fullScreen_ && watched == dxDraw_) {
        // Full screen: the menu bar shows while the mouse is at the top edge.
        const int y = static_cast<QMouseEvent*>(event)->position().toPoint().y();
        if (y <= 1)
            ShowMenuBarInFullScreen(true);
        else if (menuBar()->isVisible() && !menuBar()->activeAction() &&
                 !QApplication::activePopupWidget())
            ShowMenuBarInFullScreen(false);
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activePopupWidget()) return false;
    if (type == QEvent::ShortcutOverride) {
        // Taken here, the key is no shortcut, and the menu bar never sees Alt go down (in
        // styles with Alt navigation it would take the keys that follow).
        event->accept();
        return true;
    }
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (type == QEvent::KeyPress)
        KeyPress(key);
    else
        KeyRelease(key);
    return true;
}

void TForm1::KeyPress(const QKeyEvent& event) {
    if (event.isAutoRepeat()) return;
    const int code = VirtualKeyFor(event.key(), event.modifiers() & Qt::KeypadModifier,
                                   event.nativeScanCode(), x11ScanCodes_);
    if (code == 0) return;
    if (code == 121 && !(event.modifiers() & Qt::AltModifier) &&
        !(game_ && kdv::KeyIsBound(game_->Settings, code))) {
        // F10 opens the File menu, in a window as in full screen (where the bar is out of sight),
        // unless a player has made it a game key: then it is that key, and the mouse opens the
        // menu.
        ShowMenuBarInFullScreen(true);
        menuBar()->setActiveAction(fileMenu_->menuAction());
        return;
    }
    if (Current().KeysToDevices()) {
        if (event.nativeScanCode() != 0) heldByScanCode_[event.nativeScanCode()] = code;
        input_.Keys().Press(code);
    }
    if (!started_ || closing_) return;
    const bool alt = (event.modifiers() & Qt::AltModifier) || input_.Keys().Live(vk::kAlt);
    BetweenTicks([this, code, alt] {
        // The display keys are the window's in every session; in front of the player's game
        // they change only its display, never the game shown.
        if (const char* item = alt && other_ ? DisplayItem(code) : nullptr)
            local_->MenuItem(item);
        else
            Current().KeyDown(code, alt);
        FollowSession();
    });
}

void TForm1::KeyRelease(const QKeyEvent& event) {
    if (event.isAutoRepeat()) return;
    // The key that went down: Shift may have changed what the same key reports meanwhile.
    int code = 0;
    auto held = heldByScanCode_.find(event.nativeScanCode());
    if (event.nativeScanCode() != 0 && held != heldByScanCode_.end()) {
        code = held->second;
        heldByScanCode_.erase(held);
    } else {
        code = VirtualKeyFor(event.key(), event.modifiers() & Qt::KeypadModifier,
                             event.nativeScanCode(), x11ScanCodes_);
    }
    input_.Keys().Release(code);
}

void TForm1::BetweenTicks(std::function<void()> action) {
    if (!inTick_) {
        action();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, action = std::move(action)] { BetweenTicks(action); }, Qt::QueuedConnection);
}

void TForm1::DXTimerTimer() {
    if (inTick_ || closing_ || !started_) return;
    if (frameStats_) {
        const auto now = std::chrono::steady_clock::now();
        if (lastTick_ != std::chrono::steady_clock::time_point{})
            tickIntervals_.push_back(
                std::chrono::duration<double, std::milli>(now - lastTick_).count());
        lastTick_ = now;
    }
    inTick_ = true;
    Current().Tick();
    inTick_ = false;
    FollowSession();
}

void TForm1::NoteExitCode(int code) {
    if (exitCode_ == 0) exitCode_ = code;
}

// --- Play sessions ---------------------------------------------------------------------------

PlaySession& TForm1::Current() {
    if (other_) return *other_;
    return *local_;
}

void TForm1::BeginSession(std::unique_ptr<PlaySession> session) {
    ReleaseKeys();
    other_ = std::move(session);
    UpdateMenuItems();
    FollowSession();
}

void TForm1::MenuCommand(const std::string& item) {
    if (other_ && !WindowOnly(item)) {
        if (item == "PauseOnOffP1" && other_->Pause()) {
            FollowSession();
            return;
        }
        // Any other command is the player's game's: what is in front of it ends.
        if (!AskToLeave()) return;
        EndSession(true);
    }
    local_->MenuItem(item);
}

bool TForm1::AskToLeave() {
    if (!other_) return true;
    const std::string question = other_->LeaveQuestion();
    if (question.empty()) return true;
    if (!Confirm(question) || closing_) return false;
    EndSession(true);  // it may have ended by itself meanwhile
    return true;
}

void TForm1::UpdateMenuItems() {
    const bool held = other_ && other_->HoldsSettings();
    optionsItem_->setEnabled(!fullScreen_ && !held);
    selectItem_->setEnabled(!held);
}

void TForm1::EndSession(bool leave) {
    if (!other_) return;
    std::unique_ptr<PlaySession> session = std::move(other_);
    if (leave) session->Leave();
    const std::string text = session->Finish();
    session.reset();
    UpdateMenuItems();
    // The keyboard goes back to the player's game, with nothing held, and its next frame is
    // drawn whole.
    ReleaseKeys();
    game_->presentCache.valid = false;
    FollowSession();
    if (!text.empty() && !closing_) Tell(text);
}

void TForm1::FollowSession() {
    if (other_ && other_->Ended()) {
        EndSession(false);
        return;
    }
    PlaySession& session = Current();
    // Asked at every tick: compared as it comes, converted only when it changed.
    std::string title = session.Title();
    if (title != title_) {
        setWindowTitle(QString::fromStdString(title));
        title_ = std::move(title);
    }
    std::vector<std::string> lines = session.Overlay();
    if (savedStage_ && !other_) {
        // Over the title only, and for a few seconds: a game started at once takes the picture.
        const uint8_t state = game_->GameState;
        if ((state == kdv::gsTitleScroll || state == kdv::gsTitleIdle) &&
            std::chrono::steady_clock::now() < savedShownUntil_)
            lines.push_back(
                ui::CaptionFor("OverlayLevelSaved", game_->Settings.language).value_or("") + " " +
                std::to_string(savedStage_));
        else
            savedStage_ = 0;
    }
    if (!notice_.empty()) lines.push_back(notice_);
    if (lines == overlay_) return;
    overlay_ = std::move(lines);
    QStringList shown;
    for (const std::string& line : overlay_) shown << QString::fromStdString(line);
    dxDraw_->SetOverlay(shown);
}

void TForm1::SetStockLevels(std::optional<int> records) {
    stockLevels_ = records;
    if (selectForm_) selectForm_->SetStockRecords(records);
}

void TForm1::LevelSaved(int stage) {
    savedStage_ = stage;
    savedShownUntil_ = std::chrono::steady_clock::now() + std::chrono::seconds(4);
}

void TForm1::Tell(const std::string& text) {
    BetweenTicks([this, text] {
        notice_ = ui::MessageText(text, game_ ? game_->Settings.language : 0);
        FollowSession();
        Inform(text);
        notice_.clear();
        FollowSession();
    });
}

void TForm1::WatchReplayClick() {
    if (!AskToLeave()) return;
    std::error_code ec;
    std::filesystem::create_directories(replayFolder_, ec);
    ReplayList list(this, replayFolder_, game_->Settings.language);
    ExecDialog(list, "ReplayList");
    if (list.result() == QDialog::Accepted && !list.Chosen().empty()) StartWatching(list.Chosen());
}

void TForm1::StartWatching(const std::string& file) {
    EndSession(true);
    std::string error;
    runner::ScriptPlayer* script = std::exchange(watchScript_, nullptr);
    auto viewer = ReplayViewer::Open(file, *game_, *dxDraw_, *this, script, watchTicksRun_, error);
    if (!viewer) {
        ShowMessage(error);
        return;
    }
    BeginSession(std::move(viewer));
}

void TForm1::NetworkGameClick() {
    if (!AskToLeave()) return;
    // The network game takes the player's game back to the title: the player says so first,
    // and the game does not run on behind the dialog.
    if (local_->InGame()) {
        const int language = game_->Settings.language;
        if (!Confirm(ui::CaptionFor("NetEndGameAsk", language)
                         .value_or("End the game you are playing and start a network game?")) ||
            closing_)
            return;
        local_->BackToTitle();
    }
    net::Preferences preferences = net::ReadPreferences(*game_->io.files);
    const auto seat = net::SeatStore(replayFolder_).Last();
    NetDialog dialog(this, game_->Settings.language, game_->LevelCount, preferences.port,
                     net::IdentityOf(*game_->io.files, replay::BuildIdentity()),
                     preferences.discovery, seat ? seat->address : std::string());
    if (dialog.exec() != QDialog::Accepted) return;
    // The port is remembered for the next game; a file that cannot be written is told of when
    // the settings are saved at exit.
    if (dialog.Port() != preferences.port) {
        preferences.port = uint16_t(dialog.Port());
        net::SavePreferences(*game_->io.files, preferences);
    }
    runner::CommandLine options;
    (dialog.Hosting() ? options.host : dialog.Watching() ? options.watch : options.join) =
        dialog.Address();
    options.netMode = dialog.Mode();
    options.stage = dialog.Stage();
    StartNetwork(options);
}

void TForm1::StartNetwork(const runner::CommandLine& options) {
    EndSession(true);
    std::string error;
    if (!options.watch.empty()) {
        auto room = WatchRoom::Open(options, *game_, *dxDraw_, *this, replayFolder_, error);
        if (!room) {
            ShowMessage(error);
            return;
        }
        BeginSession(std::move(room));
        return;
    }
    auto game = NetworkGame::Open(options, *game_, input_, *dxDraw_, *this, replayFolder_, error);
    if (!game) {
        ShowMessage(error);
        return;
    }
    BeginSession(std::move(game));
}

}  // namespace app
