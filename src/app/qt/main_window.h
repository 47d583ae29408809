#pragma once
// TForm1: the main window. Menu bar and drawing area (DXDraw) with the lines shown over its
// picture, the frame timer (DXTimer), the window's keys, display modes, language and dialogs.
// What the timer and the keys drive is a play session (play_session.h): the player's own game,
// or a replay or network game in front of it.
#include <QMainWindow>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "app/qt/frame_timer.h"
#include "app/qt/play_session.h"
#include "app/runner/script.h"
#include "core/platform/services.h"

class QAction;
class QActionGroup;
class QMenu;
class QTranslator;

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}
namespace runner {
struct CommandLine;
}

namespace app {

class DrawSurface;
class LocalGame;
class SdlInput;
class TAboutForm;
class TInputForm;
class TOptionForm;
class TSelectForm;

class TForm1 : public QMainWindow, public kdv::Window, private SessionHost {
    Q_OBJECT
  public:
    explicit TForm1(SdlInput& input);
    ~TForm1() override;

    DrawSurface& DXDraw() { return *dxDraw_; }
    FrameTimer& DXTimer() { return dxTimer_; }

    // The game to drive, an optional script and the number of ticks after which the window
    // closes (none: run until closed). Call before Start.
    void Attach(recording::RecordedGame& game, runner::ScriptPlayer* script,
                std::optional<long> ticks);
    // Every game recorded is kept in folder as it ends; with recordFile, the whole run is also
    // written there at the close. Call before Start.
    void KeepReplays(std::filesystem::path folder, std::string recordFile);
    // Plays this replay as soon as the game has started; the script's dump and screen lines
    // then count the replay's ticks.
    void WatchAtStart(std::string file, runner::ScriptPlayer* script);
    // File -> Watch Replay: plays a replay in the window; the player's game waits meanwhile.
    void StartWatching(const std::string& file);
    // Hosts or joins the network game of this command line as soon as the game has started.
    void NetworkAtStart(const runner::CommandLine& options);
    // A network game with these options (--host/--join, --mode, --stage) instead of the
    // player's own game, which waits meanwhile.
    void StartNetwork(const runner::CommandLine& options);
    // How many records of the level file are the stock ones; Select Level marks the stages after
    // them as made in the editor. nullopt: not known, nothing is marked.
    void SetStockLevels(std::optional<int> records);
    // The lines shown over the picture now.
    const std::vector<std::string>& OverlayLines() const { return overlay_; }
    // FormCreate, then show; FormActivate follows on the first activation.
    void Start();
    int ExitCode() const { return exitCode_; }
    // Print the tick intervals' summary (and how long each dialog took to open) at exit.
    // With stats on, the tick intervals, missed ticks and the time from start to the first
    // painted frame are printed at exit.
    void SetFrameStats(bool on, std::chrono::steady_clock::time_point started = {}) {
        frameStats_ = on;
        startedAt_ = started;
    }
    // Every form's components: form, name, class, caption, enabled, visible.
    std::string FormsJson() const;
    // The forms made so far, in creation order: the main window, then of the options, about,
    // capture and level dialogs those that have been needed.
    QList<QWidget*> Forms() const;
    // The components a form owns (not those of the dialogs parented to it).
    QList<QObject*> Components(QWidget* form) const;
    // The dialogs, each made on first use.
    TOptionForm& OptionForm();
    TInputForm& InputForm();
    TSelectForm& SelectForm();
    long TicksRun() const;
    // The last tick of a watched replay whose script outputs were carried out.
    long WatchTicksRun() const { return watchTicksRun_; }

    // kdv::Window
    void ShowMessage(const std::string& text) override;
    void Close() override;
    void Fail(const std::string& text) override;
    void ApplyMode(int width, int height, bool fullScreen) override;
    void ToggleFullScreen() override;
    bool IsFullScreen() const override { return fullScreen_; }
    void SetTimerEnabled(bool enabled) override;
    void SetPaletteChecked(bool checked) override;
    void SetLanguageChecked(int language) override;
    void ShowOptions() override;
    void ShowAbout() override;
    void ShowSelectLevel() override;
    void LevelSaved(int stage) override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenu();
    QAction* AddItem(QMenu* menu, const char* name, const char* caption);
    void AddOwnItem(QMenu* menu, const char* name, const char* caption,
                    std::function<void()> click);
    void ControlsClick();
    // Makes the first count of the four dialogs that are not made yet. They are made in the
    // order the program has always created them, whichever is needed first, because the caption
    // table gives a name that two forms share by that order; the window's first frame does not
    // wait for any of them.
    void MakeForms(int count);
    // Captions the forms from Forms()[firstForm] on in the chosen language.
    void ScanApp(int firstForm = 0);
    void FollowQtLanguage(int language);
    void FormActivate();
    void DXTimerTimer();
    void KeyPress(const class QKeyEvent& event);
    void KeyRelease(const class QKeyEvent& event);
    void EnterFullScreen();
    void LeaveFullScreen();
    void SizeToMode();
    void CentreOnScreen();
    void WatchReplayClick();
    void NetworkGameClick();
    // A menu command of the player's game, with a replay or network game perhaps in front.
    void MenuCommand(const std::string& item);
    // Where leaving the session in front ends a game for someone else too, asks the player
    // first and ends it on yes; false when the player stays.
    bool AskToLeave();
    // Options and Select Level are offered in a window, and while no session holds the
    // player's settings.
    void UpdateMenuItems();
    // The session in front: a replay or network game while there is one, else the player's.
    PlaySession& Current();
    void BeginSession(std::unique_ptr<PlaySession> session);
    // Ends the replay or network game in front (leaving it first) and gives the picture back to
    // the player's game.
    void EndSession(bool leave);
    // Ends the session in front if it has ended, and shows its title and overlay.
    void FollowSession();
    // A message box with an OK button, in the player's language.
    void Inform(const std::string& text);
    // A message box whose text is also shown over the picture while the box is open.
    void Tell(const std::string& text);
    void ReleaseKeys();
    void ShowMenuBarInFullScreen(bool show);
    // Runs a dialog modally, noting how long it took from the request to its first paint.
    void ExecDialog(QDialog& dialog, const char* name);
    void PrintFrameStats() const;

    // SessionHost
    void BetweenTicks(std::function<void()> action) override;
    bool Confirm(const std::string& question) override;
    void BackToTitle() override;
    void NoteExitCode(int code) override;
    void CloseWindow() override { Close(); }
    bool Closing() const override { return closing_; }

    SdlInput& input_;
    DrawSurface* dxDraw_ = nullptr;
    TOptionForm* optionForm_ = nullptr;
    TAboutForm* aboutForm_ = nullptr;
    TInputForm* inputForm_ = nullptr;
    TSelectForm* selectForm_ = nullptr;
    int formsMade_ = 0;       // of the four dialogs
    bool captioned_ = false;  // a language has been chosen: dialogs made later take it
    recording::RecordedGame* recorded_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* optionsItem_ = nullptr;
    QAction* selectItem_ = nullptr;
    QAction* aboutItem_ = nullptr;
    FrameTimer dxTimer_;
    QAction* paletteType_ = nullptr;
    QAction* langEnglish_ = nullptr;
    QAction* langRussian_ = nullptr;
    std::unique_ptr<QTranslator> qtRussian_;  // Qt's own texts in Russian, once loaded

    kdv::Game* game_ = nullptr;
    std::unique_ptr<LocalGame> local_;
    std::unique_ptr<PlaySession> other_;  // a replay or network game, in front of the player's
    std::filesystem::path replayFolder_;
    std::string watchAtStart_;
    runner::ScriptPlayer* watchScript_ = nullptr;  // the first replay's only
    long watchTicksRun_ = 0;
    std::unique_ptr<runner::CommandLine> netAtStart_;
    std::vector<std::string> overlay_;
    std::string notice_;  // a message being shown, also over the picture
    int savedStage_ = 0;  // the editor's last save, told over the title a while
    std::chrono::steady_clock::time_point savedShownUntil_;
    std::optional<int> stockLevels_;
    std::string title_ = " Kordavel";  // the window's title as last set

    QSize mode_{640, 400};
    bool fullScreen_ = false;
    QPoint savedPos_;
    bool centreOnLeave_ = false;
    bool activated_ = false;  // FormActivate has run (or is running)
    bool started_ = false;    // it succeeded: the game takes commands
    bool inTick_ = false;
    bool closing_ = false;  // a close is on its way; no more ticks
    bool formClosed_ = false;
    int exitCode_ = 0;
    bool x11ScanCodes_ = false;               // native scan codes are X11 keycodes
    std::map<uint32_t, int> heldByScanCode_;  // virtual-key code of each key held, by scan code
    bool frameStats_ = false;
    std::chrono::steady_clock::time_point startedAt_;
    std::vector<double> tickIntervals_;  // milliseconds
    std::chrono::steady_clock::time_point lastTick_{};
    std::vector<std::pair<std::string, double>> dialogOpenMs_;
};

}  // namespace app
