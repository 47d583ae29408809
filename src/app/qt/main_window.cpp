#include "app/qt/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <chrono>
#include <iostream>
#include <set>

#include "adapters/virtual_devices.h"
#include "app/qt/about_form.h"
#include "app/qt/captions.h"
#include "app/qt/dialogs.h"
#include "app/qt/draw_surface.h"
#include "app/qt/frame_stats.h"
#include "app/qt/keymap.h"
#include "app/qt/net_dialog.h"
#include "app/runner/command_line.h"
#include "app/runner/net_play.h"
#include "app/sdl/sdl_input.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "net/session.h"
#include "replay/library.h"
#include "replay/playback.h"
#include "replay/recorder.h"

namespace app {

// A script's keys and joystick states go where the devices' would.
class TForm1::ScriptKeys : public runner::InputSink {
  public:
    explicit ScriptKeys(SdlInput& input) : input_(input) {}
    void SetKey(int code, bool down) override {
        if (down)
            input_.Keys().Press(code);
        else
            input_.Keys().Release(code);
    }
    void SetJoyState(int state, bool on) override { input_.SetScriptJoyState(state, on); }
    bool KeyHeld(int code) const override { return input_.Keys().Live(code); }

  private:
    SdlInput& input_;
};

// A replay being watched: its own game on devices that answer from the file.
struct TForm1::WatchState {
    adapters::VirtualWindow window;  // the replayed game's messages and close
    std::unique_ptr<replay::Playback> playback;
    bool paused = false;
    bool fast = false;  // four ticks a timer tick
};

namespace {

// How long the window waits to be activated before it starts the game anyway: some window
// managers never give a new window the focus.
constexpr int kActivationGraceMs = 1500;

}  // namespace

TForm1::TForm1(SdlInput& input) : input_(input), scriptKeys_(std::make_unique<ScriptKeys>(input)) {
    Tag(this, "TForm1", "TForm1");
    setWindowTitle(" Kordavel");
    x11ScanCodes_ = QGuiApplication::platformName() == "xcb";
    dxDraw_ = new DrawSurface(this);
    setCentralWidget(dxDraw_);
    dxDraw_->setProperty("vclClass", "TDXDraw");
    dxDraw_->setMouseTracking(true);  // the menu bar of full screen follows the mouse
    BuildMenu();
    // The other four forms, in the order the program creates them.
    optionForm_ = new TOptionForm(this);
    aboutForm_ = new TAboutForm(this);
    inputForm_ = new TInputForm(this);
    selectForm_ = new TSelectForm(this);
    optionForm_->SetCapture(inputForm_);
    inputForm_->onOpened = [this](double ms) { dialogOpenMs_.emplace_back("TInputForm", ms); };

    dxTimer_.setObjectName("DXTimer");
    dxTimer_.setTimerType(Qt::PreciseTimer);
    dxTimer_.setInterval(kdv::kTimerInterval);
    connect(&dxTimer_, &QTimer::timeout, this, [this] { DXTimerTimer(); });

    // Installed after the menu bar, so the window's keys are seen before the menu bar's own
    // filters and before focus chaining (Alt, Tab and the arrows belong to the game).
    qApp->installEventFilter(this);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
}

QAction* TForm1::AddItem(QMenu* menu, const char* name, const char* caption) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    Tag(action, name, "TMenuItem");
    menu->addAction(action);
    const std::string item = name;
    connect(action, &QAction::triggered, this, [this, item] {
        // Until the game has started only Exit means anything.
        if (closing_ || (!started_ && item != "MExit")) return;
        BetweenTicks([this, item] {
            if (watching_) StopWatching();
            if (netGame_) {
                netGame_->Leave();
                EndNetwork();
            }
            if (recorder_) recorder_->MenuItem(*game_, item);
            kdv::ClickMenu(*game_, item);
            if (recorder_) recorder_->AfterAction(*game_);
            SaveFinishedGames(false);
        });
    });
    return action;
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
    AddItem(file, "MSelectLevel", "Select Level");
    auto* watch = new QAction(QString::fromUtf8("Watch Replay…"), this);
    watch->setObjectName("MWatchReplay");
    file->addAction(watch);
    connect(watch, &QAction::triggered, this, [this] {
        if (started_ && !closing_) BetweenTicks([this] { WatchReplayClick(); });
    });
    auto* network = new QAction(QString::fromUtf8("Network Game…"), this);
    network->setObjectName("MNetworkGame");
    file->addAction(network);
    connect(network, &QAction::triggered, this, [this] {
        if (started_ && !closing_) BetweenTicks([this] { NetworkGameClick(); });
    });
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

void TForm1::Attach(kdv::Game& game, runner::ScriptPlayer* script, std::optional<long> ticks) {
    game_ = &game;
    script_ = script;
    tickLimit_ = ticks;
    optionForm_->SetGame(&game);
    inputForm_->SetGame(&game);
    selectForm_->SetGame(&game);
    if (script_) script_->formsJson = [this] { return FormsJson(); };
}

void TForm1::AttachRecorder(replay::Recorder& recorder, std::filesystem::path folder,
                            std::string recordFile) {
    recorder_ = &recorder;
    optionForm_->SetRecorder(&recorder);
    selectForm_->SetRecorder(&recorder);
    replayFolder_ = std::move(folder);
    recordFile_ = std::move(recordFile);
}

void TForm1::WatchAtStart(std::string file, runner::ScriptPlayer* script) {
    watchAtStart_ = std::move(file);
    watchScript_ = script;
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
    if (recorder_) recorder_->Begin(*game_, *game_->io.files);
    if (tickLimit_ && *tickLimit_ <= 0) Close();
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
    if (watching_) {
        WatchKey(code);  // the player's game hears nothing of it
        return;
    }
    if (fullScreen_ && code == 121 && !(event.modifiers() & Qt::AltModifier)) {
        // F10 in full screen opens the menu, which is otherwise out of sight.
        ShowMenuBarInFullScreen(true);
        menuBar()->setActiveAction(fileMenu_->menuAction());
        return;
    }
    if (netGame_) {
        // The keys reach the network game through the devices only; Esc leaves it.
        if (event.nativeScanCode() != 0) heldByScanCode_[event.nativeScanCode()] = code;
        input_.Keys().Press(code);
        if (code == 27)
            BetweenTicks([this] {
                if (!netGame_) return;
                netGame_->Leave();
                EndNetwork();
            });
        return;
    }
    if (event.nativeScanCode() != 0) heldByScanCode_[event.nativeScanCode()] = code;
    input_.Keys().Press(code);
    if (!started_ || closing_) return;
    const bool alt = (event.modifiers() & Qt::AltModifier) || input_.Keys().Live(vk::kAlt);
    BetweenTicks([this, code, alt] {
        if (watching_) return;
        if (recorder_) recorder_->KeyDown(*game_, code);
        kdv::FormKeyDown(*game_, code, alt);
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
    if (watching_) {
        inTick_ = true;
        WatchTick();
        inTick_ = false;
        return;
    }
    if (netGame_) {
        inTick_ = true;
        NetTick();
        inTick_ = false;
        return;
    }
    inTick_ = true;
    if (frameStats_) {
        const auto now = std::chrono::steady_clock::now();
        if (ticksRun_ > 0)
            tickIntervals_.push_back(
                std::chrono::duration<double, std::milli>(now - lastTick_).count());
        lastTick_ = now;
    }
    const long tick = ticksRun_ + 1;
    if (script_) {
        try {
            script_->ApplyInputs(tick, *game_, *scriptKeys_);
        } catch (const runner::ScriptError& error) {
            // A command the game refused (a stage past the last): the script is wrong.
            std::cerr << "kordavel: " << error.what() << "\n";
            exitCode_ = runner::kExitUsage;
            Close();
        }
    }
    if (!closing_) {
        if (recorder_) recorder_->BeforeTick(*game_);
        kdv::DXTimerTimer(*game_);
        if (recorder_) recorder_->AfterTick(*game_);
        SaveFinishedGames(false);
        ticksRun_ = tick;
        if (script_ && !closing_) {
            try {
                script_->ApplyOutputs(tick, *game_, ticksRun_);
            } catch (const std::exception& error) {
                std::cerr << "kordavel: " << error.what() << "\n";
                exitCode_ = runner::kExitStartup;
                Close();
            }
        }
        if (tickLimit_ && ticksRun_ >= *tickLimit_) Close();
    }
    inTick_ = false;
}

// --- kdv::Window ---------------------------------------------------------------------------

void TForm1::ShowMessage(const std::string& text) {
    BetweenTicks([this, text] {
        const int language = game_ ? game_->Settings.language : 0;
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                        QString::fromStdString(MessageText(text, language)), QMessageBox::Ok, this);
        box.exec();
    });
}

void TForm1::Close() {
    if (closing_) return;
    closing_ = true;
    dxTimer_.stop();
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void TForm1::Fail(const std::string& text) {
    std::cerr << "kordavel: " << text << "\n";
    exitCode_ = runner::kExitGameError;
    Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    closing_ = true;
    dxTimer_.stop();
    if (!formClosed_) {
        formClosed_ = true;
        watching_.reset();
        if (netGame_) {
            netGame_->Leave();
            EndNetwork();
        }
        SaveFinishedGames(true);
        if (game_) kdv::FormClose(*game_);
        if (frameStats_) PrintFrameStats();
    }
    event->accept();
    // Ends every event loop, a modal dialog's included.
    QCoreApplication::exit(exitCode_);
}

void TForm1::SetTimerEnabled(bool enabled) {
    if (enabled && !closing_)
        dxTimer_.start();
    else
        dxTimer_.stop();
}

void TForm1::SetPaletteChecked(bool checked) {
    paletteType_->setChecked(checked);
}

void TForm1::SetLanguageChecked(int language) {
    (language == 0 ? langEnglish_ : langRussian_)->setChecked(true);
    ScanApp();
}

// Every captioned component of the program's forms takes its text from the caption table in
// the chosen language, by the class it stands for: menu items, buttons, group boxes and static
// texts. Check boxes, radio groups, labels and tab sheets keep their design captions. A name that
// the table holds twice is looked up per form (see CaptionFor).
void TForm1::ScanApp() {
    const int language = langEnglish_->isChecked() ? 0 : 1;
    std::map<std::string, int> formsWithName;
    for (QWidget* form : Forms()) {
        std::set<std::string> namesHere;
        for (QObject* object : Components(form)) {
            const QString vcl = VclClass(object);
            const std::string name = object->objectName().toStdString();
            if (vcl.isEmpty() || name.empty()) continue;
            namesHere.insert(name);
            const auto text = CaptionFor(name, language, formsWithName[name]);
            if (!text) continue;
            const QString caption = QString::fromStdString(*text);
            if (vcl == "TMenuItem") {
                if (auto* action = qobject_cast<QAction*>(object)) action->setText(caption);
                if (auto* menu = qobject_cast<QMenu*>(object)) menu->setTitle(caption);
            } else if (vcl == "TButton") {
                if (auto* button = qobject_cast<QPushButton*>(object)) button->setText(caption);
            } else if (vcl == "TGroupBox") {
                if (auto* box = qobject_cast<QGroupBox*>(object)) box->setTitle(caption);
            } else if (vcl == "TStaticText") {
                if (auto* label = qobject_cast<QLabel*>(object)) label->setText(caption);
            }
        }
        for (const std::string& name : namesHere) ++formsWithName[name];
    }
    aboutForm_->SetLanguage(language);
    selectForm_->SetLanguage(language);
}

QList<QObject*> TForm1::Components(QWidget* form) const {
    // The dialogs are children of the main window, but their components are their own.
    const QList<QWidget*> forms = Forms();
    QList<QObject*> owned;
    for (QObject* object : form->findChildren<QObject*>()) {
        QObject* owner = object->parent();
        while (owner && !forms.contains(qobject_cast<QWidget*>(owner))) owner = owner->parent();
        if (owner == form && !forms.contains(qobject_cast<QWidget*>(object))) owned.append(object);
    }
    return owned;
}

QList<QWidget*> TForm1::Forms() const {
    return {const_cast<TForm1*>(this), optionForm_, aboutForm_, inputForm_, selectForm_};
}

std::string TForm1::FormsJson() const {
    QJsonArray components;
    for (QWidget* form : Forms()) {
        QList<QObject*> objects = {form};
        objects += Components(form);
        for (QObject* object : objects) {
            const QString vcl = VclClass(object);
            if (vcl.isEmpty() || object->objectName().isEmpty()) continue;
            QString caption;
            bool enabled = true, visible = true;
            if (auto* action = qobject_cast<QAction*>(object)) {
                caption = action->text();
                enabled = action->isEnabled();
                visible = action->isVisible();
            } else if (auto* widget = qobject_cast<QWidget*>(object)) {
                QTabWidget* pages = nullptr;
                for (QObject* p = widget->parent(); p && !pages; p = p->parent())
                    pages = qobject_cast<QTabWidget*>(p);
                if (auto* menu = qobject_cast<QMenu*>(widget))
                    caption = menu->title();
                else if (vcl == "TTabSheet" && pages)
                    caption = pages->tabText(pages->indexOf(widget));
                else if (auto* button = qobject_cast<QAbstractButton*>(widget))
                    caption = button->text();
                else if (auto* box = qobject_cast<QGroupBox*>(widget))
                    caption = box->title();
                else if (auto* label = qobject_cast<QLabel*>(widget))
                    caption = label->text();
                else if (auto* edit = qobject_cast<QLineEdit*>(widget))
                    caption = edit->text();
                else if (widget->isWindow())
                    caption = widget->windowTitle();
                enabled = widget->isEnabled();
                // As designed: a form's own visibility, its components' within it (a menu by
                // its item, a page whether or not it is the one in front).
                if (auto* menu = qobject_cast<QMenu*>(widget)) {
                    enabled = menu->menuAction()->isEnabled();
                    visible = menu->menuAction()->isVisible();
                } else if (vcl == "TTabSheet") {
                    visible = true;
                } else if (widget == form) {
                    visible = widget->isVisible();
                } else {
                    visible = true;
                    for (QWidget* w = widget; w && w != form; w = w->parentWidget())
                        if (w->isHidden() && VclClass(w) != "TTabSheet") visible = false;
                }
            }
            QJsonObject entry;
            entry["form"] = form->objectName();
            entry["name"] = object->objectName();
            entry["class"] = vcl;
            entry["caption"] = caption;
            entry["enabled"] = enabled;
            entry["visible"] = visible;
            components.append(entry);
        }
    }
    return QJsonDocument(components).toJson(QJsonDocument::Indented).toStdString();
}

void TForm1::ExecDialog(QDialog& dialog, const char* name) {
    ExecTimed(dialog, [this, name](double ms) { dialogOpenMs_.emplace_back(name, ms); });
}

void TForm1::PrintFrameStats() const {
    std::cout << FormatFrameStats(SummariseIntervals(tickIntervals_, kdv::kTimerInterval));
    for (const auto& [name, ms] : dialogOpenMs_)
        std::printf("dialog-open: %s %.1f ms\n", name.c_str(), ms);
    std::cout.flush();
    std::fflush(stdout);
}

void TForm1::ShowOptions() {
    BetweenTicks([this] {
        optionForm_->FormShow();
        ExecDialog(*optionForm_, "TOptionForm");
    });
}

void TForm1::ShowSelectLevel() {
    BetweenTicks([this] {
        selectForm_->FormShow();
        ExecDialog(*selectForm_, "TSelectForm");
    });
}

void TForm1::ShowAbout() {
    BetweenTicks([this] { ExecDialog(*aboutForm_, "TAboutForm"); });
}

// --- Display modes -------------------------------------------------------------------------

void TForm1::ApplyMode(int width, int height, bool fullScreen) {
    const bool resized = mode_ != QSize(width, height);
    mode_ = QSize(width, height);
    if (fullScreen) {
        if (!fullScreen_) EnterFullScreen();
        // The window will come back at the new size: centred, not at its old place.
        if (resized) centreOnLeave_ = true;
        dxDraw_->update();
        return;
    }
    if (fullScreen_) LeaveFullScreen();
    SizeToMode();
    CentreOnScreen();
}

void TForm1::ToggleFullScreen() {
    if (fullScreen_)
        LeaveFullScreen();
    else
        EnterFullScreen();
}

void TForm1::EnterFullScreen() {
    fullScreen_ = true;
    savedPos_ = pos();
    centreOnLeave_ = false;
    menuBar()->hide();
    menuBar()->setCursor(Qt::ArrowCursor);
    // Options and About are not offered in full screen; the rest of the menu is.
    optionsItem_->setEnabled(false);
    aboutItem_->setEnabled(false);
    setCursor(Qt::BlankCursor);
    dxDraw_->setCursor(Qt::BlankCursor);
    dxDraw_->setMinimumSize(0, 0);
    dxDraw_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    showFullScreen();
    // Without a window manager nothing honours the full-screen state: cover the screen here.
    if (QScreen* screen = this->screen()) setGeometry(screen->geometry());
    dxDraw_->setFocus();
}

void TForm1::LeaveFullScreen() {
    fullScreen_ = false;
    showNormal();
    menuBar()->show();
    menuBar()->unsetCursor();
    optionsItem_->setEnabled(true);
    aboutItem_->setEnabled(true);
    unsetCursor();
    dxDraw_->unsetCursor();
    SizeToMode();
    if (centreOnLeave_)
        CentreOnScreen();
    else
        move(savedPos_);
    centreOnLeave_ = false;
    dxDraw_->setFocus();
}

// The window opens with the drawing area at the mode's size; its border can be dragged, and the
// picture then scales with its aspect kept and black bars around it.
void TForm1::SizeToMode() {
    dxDraw_->setMinimumSize(320, 200);
    dxDraw_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    int menuHeight = menuBar()->heightForWidth(mode_.width());
    if (menuHeight <= 0) menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(320, 200 + menuHeight);
    resize(mode_.width(), mode_.height() + menuHeight);
}

void TForm1::ShowMenuBarInFullScreen(bool show) {
    if (!fullScreen_ || menuBar()->isVisible() == show) return;
    menuBar()->setVisible(show);
}

void TForm1::CentreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // The frame's size is known only once the window is shown; before that, the client's.
    const QSize outer = isVisible() ? frameGeometry().size() : size();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

}  // namespace app

// --- Replays ---------------------------------------------------------------------------------

namespace app {

void TForm1::SaveFinishedGames(bool closing) {
    if (!recorder_ || !recorder_->Begun()) return;
    std::string error;
    auto save = [&](const replay::Replay& game) {
        if (replay::SaveGame(replayFolder_, game, std::chrono::system_clock::now(), error).empty())
            std::cerr << "kordavel: the replay was not saved: " << error << "\n";
    };
    if (auto finished = recorder_->TakeFinishedGame()) save(*finished);
    if (!closing) return;
    if (auto running = recorder_->GameInProgress()) save(*running);
    if (!recordFile_.empty() && !replay::SaveReplay(recordFile_, recorder_->Whole(), error)) {
        std::cerr << "kordavel: " << error << "\n";
        if (exitCode_ == 0) exitCode_ = runner::kExitStartup;
    }
}

void TForm1::WatchReplayClick() {
    const int language = game_->Settings.language;
    const QString title =
        QString::fromStdString(CaptionFor("MWatchReplay", language).value_or("Watch Replay"));
    std::error_code ec;
    std::filesystem::create_directories(replayFolder_, ec);
    const QString file = QFileDialog::getOpenFileName(
        this, title.chopped(title.endsWith(QChar(0x2026)) ? 1 : 0),
        QString::fromStdString(replayFolder_.string()),
        QString::fromStdString(CaptionFor("ReplayFiles", language).value_or("Replays")) +
            " (*.kdr)");
    if (!file.isEmpty()) StartWatching(file.toStdString());
}

void TForm1::StartWatching(const std::string& file) {
    if (watching_) StopWatching();
    if (netGame_) {
        netGame_->Leave();
        EndNetwork();
    }
    std::string error;
    auto data = replay::LoadReplay(file, error);
    if (!data) {
        ShowMessage(error);
        return;
    }
    if (auto refusal = replay::CheckReplay(*data, *game_->io.files)) {
        ShowMessage(std::filesystem::path(file).filename().string() + ": " + *refusal);
        return;
    }
    auto watch = std::make_unique<WatchState>();
    kdv::Services outer;
    outer.display = dxDraw_;
    outer.sound = game_->Settings.soundEnable ? game_->io.sound : nullptr;
    outer.window = &watch->window;
    const int64_t from = data->header.watchFrom;
    watch->playback = std::make_unique<replay::Playback>(std::move(*data), *game_->io.files, outer);
    replay::Playback& playback = *watch->playback;
    // The part before the game is played unseen, as fast as it goes.
    playback.Show(false);
    if (!playback.Start()) {
        std::string text;
        for (const std::string& line : watch->window.messages) text += line + "\n";
        ShowMessage(text.empty() ? "The replay could not be started." : text);
        return;
    }
    while (playback.TicksRun() < from && playback.Step()) {
        if (watchScript_) {
            watchScript_->ApplyOutputs(long(playback.TicksRun()), playback.Game(),
                                       long(playback.TicksRun()));
            watchTicksRun_ = long(playback.TicksRun());
        }
    }
    playback.Show(true);
    input_.Keys().ReleaseAll();
    watching_ = std::move(watch);
    ShowWatchTitle();
}

void TForm1::StopWatching() {
    if (!watching_) return;
    watching_.reset();
    watchScript_ = nullptr;
    // The keyboard goes back to the player's game, with nothing held, and its next frame is
    // drawn whole.
    input_.Keys().ReleaseAll();
    heldByScanCode_.clear();
    game_->presentCache.valid = false;
    setWindowTitle(" Kordavel");
}

void TForm1::WatchTick() {
    WatchState& watch = *watching_;
    if (watch.paused) return;
    replay::Playback& playback = *watch.playback;
    for (int i = 0; i < (watch.fast ? 4 : 1); ++i) {
        if (!playback.Step() || watch.window.failed || watch.window.closeRequested) {
            if (watch.window.failed) std::cerr << "kordavel: " << watch.window.failure << "\n";
            StopWatching();
            return;
        }
        if (watchScript_) {
            const long tick = long(playback.TicksRun());
            try {
                watchScript_->ApplyOutputs(tick, playback.Game(), tick);
                watchTicksRun_ = tick;
            } catch (const std::exception& error) {
                std::cerr << "kordavel: " << error.what() << "\n";
                exitCode_ = runner::kExitStartup;
            }
        }
    }
}

bool TForm1::WatchKey(int code) {
    switch (code) {
        case 'P':
            watching_->paused = !watching_->paused;
            break;
        case 'F':
            watching_->fast = !watching_->fast;
            break;
        case 27:
            StopWatching();
            return true;
        default:
            return false;
    }
    ShowWatchTitle();
    return true;
}

void TForm1::ShowWatchTitle() {
    const int language = game_->Settings.language;
    auto caption = [language](const char* name, const char* fallback) {
        return CaptionFor(name, language).value_or(fallback);
    };
    std::string title = " Kordavel - " + caption("ReplayWatching", "Replay");
    if (watching_->paused)
        title += " - " + caption("ReplayPaused", "paused");
    else if (watching_->fast)
        title += " - ×4";
    setWindowTitle(QString::fromStdString(title));
}

}  // namespace app

// --- Network games -----------------------------------------------------------------------------

namespace app {

void TForm1::NetworkAtStart(const runner::CommandLine& options) {
    netAtStart_ = std::make_unique<runner::CommandLine>(options);
}

void TForm1::NetworkGameClick() {
    NetDialog dialog(this, game_->Settings.language, game_->LevelCount);
    if (dialog.exec() != QDialog::Accepted) return;
    runner::CommandLine options;
    (dialog.Hosting() ? options.host : options.join) = dialog.Address();
    options.netMode = dialog.Mode();
    options.stage = dialog.Stage();
    StartNetwork(options);
}

void TForm1::StartNetwork(const runner::CommandLine& options) {
    if (watching_) StopWatching();
    if (netGame_) {
        netGame_->Leave();
        EndNetwork();
    }
    net::Options o;
    std::string error;
    if (!runner::NetOptions(options, *game_->io.files, o, error)) {
        ShowMessage(error);
        return;
    }
    // The player's settings as they are now, not as they were saved.
    o.settings = game_->Settings;
    o.identity = net::IdentityOf(*game_->io.files, game_->Settings, replay::GameVersion());
    o.ticks = 0;
    o.input = &input_;
    o.display = dxDraw_;
    o.sound = game_->Settings.soundEnable ? game_->io.sound : nullptr;
    o.paced = true;
    auto session = std::make_unique<net::Session>(std::move(o));
    if (!session->Open(error)) {
        ShowMessage(error);
        return;
    }
    input_.Keys().ReleaseAll();
    heldByScanCode_.clear();
    netGame_ = std::move(session);
    netTitle_.clear();
    NetTick();
}

void TForm1::NetTick() {
    netGame_->Poll(0);
    const int language = game_->Settings.language;
    auto caption = [language](const char* name, const char* fallback) {
        return CaptionFor(name, language).value_or(fallback);
    };
    std::string title = " Kordavel";
    switch (netGame_->CurrentPhase()) {
        case net::Phase::Connecting:
        case net::Phase::Handshake:
            if (netGame_->Hosting())
                title += " - " + caption("NetWaitJoin", "Waiting for a player to join on port") +
                         " " + std::to_string(netGame_->Port()) + "…";
            else
                title += " - " + caption("NetConnecting", "Connecting…");
            break;
        case net::Phase::Playing:
        case net::Phase::Finishing:
            if (const uint32_t quiet = netGame_->QuietMs())
                title += " - " + caption("NetWaitPeer", "Waiting for the other player") + " (" +
                         std::to_string(quiet / 1000) + " / " +
                         std::to_string(net::kGiveUpMs / 1000) + " s)";
            break;
        case net::Phase::Ended:
            EndNetwork();
            return;
    }
    if (title != netTitle_) {
        netTitle_ = title;
        setWindowTitle(QString::fromStdString(title));
    }
}

// Saves the network game's replay beside the others, says how it ended, and gives the window
// back to the player's own game.
void TForm1::EndNetwork() {
    auto session = std::move(netGame_);
    // Lets the goodbye reach the other machine.
    for (int i = 0; i < 10; ++i) session->Poll(5);
    std::string error;
    if (auto recording = session->Recording()) {
        if (replay::SaveGame(replayFolder_, *recording, std::chrono::system_clock::now(), error)
                .empty())
            std::cerr << "kordavel: the replay was not saved: " << error << "\n";
    }
    const int language = game_->Settings.language;
    auto caption = [language](const char* name, const char* fallback) {
        return CaptionFor(name, language).value_or(fallback);
    };
    std::string text;
    switch (session->Reason()) {
        case net::EndReason::None:
        case net::EndReason::Left:
            break;
        case net::EndReason::Over:
            text = caption("NetOver", "The network game is over.");
            break;
        case net::EndReason::PeerLeft:
            text = caption("NetPeerLeft", "The other player left the game.");
            break;
        case net::EndReason::Lost:
            text = caption("NetLost", "The connection to the other player was lost.");
            break;
        case net::EndReason::Refused:
            text = caption("NetRefused", "A player was refused:") + " " + session->Detail() + ".";
            break;
        case net::EndReason::RefusedByHost:
            text = caption("NetRefusedByHost", "The host refused the game:") + " " +
                   session->Detail() + ".";
            break;
        case net::EndReason::Error:
            text = caption("NetError", "The network game stopped:") + " " + session->EndMessage();
            break;
        case net::EndReason::Apart:
            text = caption("NetApart", "The two games went apart.");
            break;
        case net::EndReason::NobodyJoined:
            text = caption("NetNobodyJoined", "Nobody joined the game.");
            break;
        case net::EndReason::NoAnswer:
            text = caption("NetNoAnswer", "The other machine does not answer.");
            break;
    }
    if (session->Failed()) std::cerr << "kordavel: " << session->EndMessage() << "\n";
    session.reset();
    input_.Keys().ReleaseAll();
    heldByScanCode_.clear();
    game_->presentCache.valid = false;
    setWindowTitle(" Kordavel");
    if (!text.empty() && !closing_) ShowMessage(text);
}

}  // namespace app
