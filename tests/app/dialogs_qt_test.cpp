// The real forms on Qt's offscreen platform, on the game's own data: each dialog opened from
// the menu, the language switched, a key rebound through the capture dialog and the settings
// file checked.
#include <gtest/gtest.h>

#include <SDL.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/paths.h"
#include "app/qt/dialogs.h"
#include "app/qt/draw_surface.h"
#include "app/qt/frame_copy.h"
#include "app/qt/keymap.h"
#include "app/qt/main_window.h"
#include "app/qt/net_dialog.h"
#include "app/qt/replay_list.h"
#include "app/runner/command_line.h"
#include "app/runner/state_json.h"
#include "app/sdl/sdl_input.h"
#include "core/controls/player_controls.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "net/handshake.h"
#include "net/preferences.h"
#include "net/session.h"
#include "recording/recorded_game.h"
#include "replay/library.h"
#include "replay/playback.h"
#include "testkit/testkit.h"
#include "ui/captions.h"
#include "ui/replay_watch.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "dialogs_qt_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The window on a copy of the shipped data, started and ticking.
struct Window {
    // Recorded, the window keeps the games as it does for the player. prepare changes the files
    // under the root before the start.
    explicit Window(recording::Keep keep = recording::Keep::Nothing,
                    const std::function<void(const fs::path&)>& prepare = {})
        : recorded(keep) {
        App();
        root = fs::temp_directory_path() / ("kordavel-qt-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data", fs::copy_options::recursive);
        std::ofstream(root / "kordavel.ini") << "[Options]\nLanguage=0\n";
        if (prepare) prepare(root);
        files = std::make_unique<adapters::DiskFiles>(root);
        form = std::make_unique<app::TForm1>(input);
        kdv::Services services;
        services.display = &form->DXDraw();
        services.sound = &sound;
        services.input = &input;
        services.clock = &clock;
        services.files = files.get();
        services.window = form.get();
        if (keep != recording::Keep::Nothing) form->KeepReplays(root / "replays", "");
        game = recorded.Make(services);
        form->Attach(recorded, nullptr, std::nullopt);
        form->Start();
        QElapsedTimer waited;
        waited.start();
        while (form->TicksRun() < 5 && waited.elapsed() < 5000) QApplication::processEvents();
    }
    ~Window() {
        form->hide();
        fs::remove_all(root);
    }
    template <typename T>
    T* Find(QWidget* form, const char* name) {
        return form->findChild<T*>(name);
    }
    std::string Ini() {
        std::ifstream in(root / "kordavel.ini");
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path root;
    app::SdlInput input;
    adapters::SilentSound sound;
    adapters::ManualClock clock;
    std::unique_ptr<adapters::DiskFiles> files;
    std::unique_ptr<app::TForm1> form;
    recording::RecordedGame recorded;
    std::unique_ptr<kdv::Game> game;
};

// Runs after the current modal dialog has opened.
void Later(std::function<void()> action) {
    QTimer::singleShot(30, action);
}

void Tap(QWidget* target, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

}  // namespace

TEST(Dialogs, TheLanguageScanCaptionsEveryFormAndTheLevelLabelKeepsItsOwnLine) {
    Window w;
    ASSERT_GT(w.form->TicksRun(), 0);
    auto& options = w.form->OptionForm();
    auto& select = w.form->SelectForm();
    auto check = [&](const char* up, const char* level, const char* cancel) {
        EXPECT_EQ(w.Find<QLabel>(&options, "StaticText1")->text().toStdString(), up);
        EXPECT_EQ(w.Find<QLabel>(&select, "StaticText1")->text().toStdString(), level);
        EXPECT_EQ(w.Find<QPushButton>(&select, "CancelButton")->text().toStdString(), cancel);
        EXPECT_EQ(w.Find<QPushButton>(&options, "CancelButton")->text().toStdString(), cancel);
        // Check boxes keep their design captions in both languages.
        EXPECT_EQ(w.Find<QCheckBox>(&options, "SoundBox")->text().toStdString(), "Sound FX");
    };
    check("Up", "Level:", "Cancel");
    kdv::ClickMenu(*w.game, "MLangRussian");
    check("Вверх", "Уровень:", "Отмена");
    EXPECT_EQ(w.game->Settings.language, 1);
    kdv::ClickMenu(*w.game, "MLangEnglish");
    check("Up", "Level:", "Cancel");
}

// The dialogs are made on first use, after the language may have changed: each comes up in it,
// and the level dialog's names that the options dialog shares still take their own lines.
TEST(Dialogs, DialogsFirstOpenedAfterTheLanguageChangedComeUpInIt) {
    Window w;
    kdv::ClickMenu(*w.game, "MLangRussian");
    QString aboutTitle, level, cancel;
    Later([&] {
        if (auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            aboutTitle = about->windowTitle();
            about->accept();
        }
    });
    kdv::ClickMenu(*w.game, "MAbout");
    EXPECT_EQ(aboutTitle.toStdString(), ui::UiText("About", 1));
    Later([&] {
        auto* select = w.form->findChild<app::TSelectForm*>("TSelectForm");
        ASSERT_TRUE(select);
        level = w.Find<QLabel>(select, "StaticText1")->text();
        cancel = w.Find<QPushButton>(select, "CancelButton")->text();
        select->reject();
    });
    kdv::ClickMenu(*w.game, "MSelectLevel");
    EXPECT_EQ(level.toStdString(), "Уровень:");
    EXPECT_EQ(cancel.toStdString(), "Отмена");
    EXPECT_EQ(w.Find<QLabel>(&w.form->OptionForm(), "StaticText1")->text().toStdString(), "Вверх");
    kdv::ClickMenu(*w.game, "MLangEnglish");
    EXPECT_EQ(w.Find<QLabel>(&w.form->SelectForm(), "StaticText1")->text().toStdString(), "Level:");
}

TEST(Dialogs, RebindingThroughTheCaptureDialogIsSavedOnOkOnly) {
    Window w;
    auto& options = w.form->OptionForm();
    auto& capture = w.form->InputForm();
    bool sawCapture = false;
    auto rebind = [&](const char* button, Qt::Key key, const char* finish) {
        Later([&, button, key, finish] {
            ASSERT_TRUE(options.isVisible());
            Later([&, key] {
                sawCapture = capture.isVisible();
                if (key == Qt::Key_unknown)
                    capture.reject();  // the close box
                else
                    Tap(&capture, key);
            });
            w.Find<QPushButton>(&options, button)->click();
            w.Find<QPushButton>(&options, finish)->click();
        });
        kdv::ClickMenu(*w.game, "MOptions");
    };
    rebind("FireButton1", Qt::Key_X, "CancelButton");
    EXPECT_TRUE(sawCapture);
    EXPECT_EQ(w.game->Settings.keys1[kdv::Fire], 17);  // cancelled

    rebind("FireButton1", Qt::Key_X, "OkButton");
    EXPECT_EQ(w.game->Settings.keys1[kdv::Fire], 'X');
    EXPECT_EQ(w.Find<QPushButton>(&options, "FireButton1")->text().toStdString(), "X");
    rebind("UpButton2", Qt::Key_Escape, "OkButton");  // Esc is captured, not a refusal
    EXPECT_EQ(w.game->Settings.keys2[kdv::MoveUp], 27);
    rebind("UpButton1", Qt::Key_unknown, "OkButton");  // the close box keeps the binding
    EXPECT_EQ(w.game->Settings.keys1[kdv::MoveUp], 38);
    // Keys typed in the capture dialog never reached the game.
    for (int code : {int('X'), 27}) EXPECT_FALSE(w.input.Keys().Live(code));

    // The window's close handler (closing the window itself would end the test's event loops).
    kdv::FormClose(*w.game);
    const std::string ini = w.Ini();
    EXPECT_NE(ini.find("[KeysForPlayer1]\nMoveUp=38\nMoveDown=40\nMoveLeft=37\nMoveRight=39\n"
                       "Fire=88\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[KeysForPlayer2]\nMoveUp=27\n"), std::string::npos) << ini;
}

TEST(Dialogs, JoystickCaptureTakesTheFirstStateThatComesOn) {
    Window w;
    auto& options = w.form->OptionForm();
    Later([&] {
        Later([&] { w.input.SetScriptJoyState(5, true); });  // button 2, seen at the next tick
        w.Find<QPushButton>(&options, "FireJButton1")->click();
        w.Find<QPushButton>(&options, "OkButton")->click();
    });
    kdv::ClickMenu(*w.game, "MOptions");
    EXPECT_EQ(w.game->Settings.joystick1[kdv::Fire], 5);
    EXPECT_EQ(w.Find<QPushButton>(&options, "FireJButton1")->text().toStdString(),
              kdv::JoystickName(5));
}

TEST(Dialogs, BarsShowFileValuesOutsideTheirRangeWithoutChangingThem) {
    Window w;
    auto& options = w.form->OptionForm();
    w.game->Settings.soundVolume = 53;
    w.game->Settings.gameDifficulty = -2;
    int volumeBar = -1, difficultyBar = -1;
    Later([&] {
        volumeBar = w.Find<QSlider>(&options, "SoundBar")->value();
        difficultyBar = w.Find<QSlider>(&options, "GameDiffBar")->value();
        w.Find<QPushButton>(&options, "OkButton")->click();
    });
    kdv::ClickMenu(*w.game, "MOptions");
    EXPECT_EQ(volumeBar, kdv::SoundBarPosition(53));
    EXPECT_EQ(difficultyBar, 0);
    EXPECT_EQ(w.game->Settings.soundVolume, 53);
    EXPECT_EQ(w.game->Settings.gameDifficulty, -2);
}

TEST(Dialogs, SelectLevelStartsTheChosenStageAndRefusesAnEmptyLevelFile) {
    Window w;
    auto& select = w.form->SelectForm();
    const int count = w.game->LevelCount;
    ASSERT_GT(count, 2);
    Later([&] {
        EXPECT_EQ(w.Find<QLineEdit>(&select, "LevelEdit")->text(), "1");
        for (int i = 0; i < count + 5; ++i) select.LevelSpin().Step(1);  // no wrap-around
        EXPECT_EQ(w.Find<QLineEdit>(&select, "LevelEdit")->text().toInt(), count);
        select.findChildren<QRadioButton*>()[2]->setChecked(true);
        w.Find<QPushButton>(&select, "OkButton")->click();
    });
    kdv::ClickMenu(*w.game, "MSelectLevel");
    EXPECT_EQ(w.game->StageNumber, count);
    EXPECT_EQ(w.game->GameMode, kdv::gmDuel);
    EXPECT_EQ(w.game->GameState, kdv::gsStageIntro);

    w.game->LevelCount = 0;
    bool okEnabled = true, noteShown = false;
    Later([&] {
        okEnabled = w.Find<QPushButton>(&select, "OkButton")->isEnabled();
        noteShown = w.Find<QLabel>(&select, "NoLevelsNote")->isVisible();
        w.Find<QPushButton>(&select, "CancelButton")->click();
    });
    kdv::ClickMenu(*w.game, "MSelectLevel");
    EXPECT_FALSE(okEnabled);
    EXPECT_TRUE(noteShown);
    EXPECT_EQ(w.game->StageNumber, count);  // Cancel changed nothing
}

TEST(Dialogs, OptionsAndAboutAreNotOfferedInFullScreen) {
    Window w;
    kdv::ClickMenu(*w.game, "MFullWin");
    ASSERT_TRUE(w.form->IsFullScreen());
    kdv::ClickMenu(*w.game, "MOptions");  // ignored: returns at once
    EXPECT_FALSE(w.form->OptionForm().isVisible());
    EXPECT_FALSE(w.form->findChild<QAction*>("MOptions")->isEnabled());
    EXPECT_TRUE(w.form->findChild<QAction*>("MSelectLevel")->isEnabled());
    // The menu is reachable in full screen: F10 shows the bar and opens File.
    EXPECT_FALSE(w.form->menuBar()->isVisible());
    QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(&w.form->DXDraw(), &f10);
    EXPECT_TRUE(w.form->menuBar()->isVisible());
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    kdv::ClickMenu(*w.game, "MFullWin");
    EXPECT_TRUE(w.form->findChild<QAction*>("MOptions")->isEnabled());
}

TEST(Dialogs, TheWindowIsSizeableAndAltKeysSetTheTwoSizes) {
    Window w;
    w.form->resize(1000, 700);
    QApplication::processEvents();
    EXPECT_GT(w.form->DXDraw().width(), 640);  // the picture follows the border
    kdv::ClickMenu(*w.game, "N320x200Alt11");
    QApplication::processEvents();
    EXPECT_EQ(w.form->DXDraw().size(), QSize(320, 200));
    kdv::ClickMenu(*w.game, "N640x400Alt21");
    QApplication::processEvents();
    EXPECT_EQ(w.form->DXDraw().size(), QSize(640, 400));
}

namespace {

// The first and last rows where the window's drawing shows something other than its picture
// (scaled into the part of the area the picture takes, black around it); -1 when none.
std::pair<int, int> RowsOverPicture(app::DrawSurface& surface) {
    const QImage shot = surface.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const app::PixelSpan fit =
        app::FitFrame(surface.View().width(), surface.View().height(), shot.width(), shot.height());
    const QRect target(QPoint(fit.left, fit.top), QPoint(fit.right, fit.bottom));
    QImage picture(shot.size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter(&picture).drawImage(target.topLeft(), surface.Shown());
    int first = -1, last = -1;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixel(x, y) != picture.pixel(x, y)) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return {first, last};
}

// Lets the frame timer run for about this many of its ticks.
void RunTicks(int ticks) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ticks * kdv::kTimerInterval) QApplication::processEvents();
}

// Takes the text of each message box the window opens, and closes it.
struct BoxCatcher {
    BoxCatcher() {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                told << box->text();
                box->accept();
            }
        });
        poll.start(20);
    }
    QStringList told;
    QTimer poll;
};

// A one-player game of about this many timer ticks, played in the window and saved as a replay.
std::string SaveOnePlayerGame(Window& w, int ticks) {
    w.form->findChild<QAction*>("MStart1Player")->trigger();  // through the recording
    RunTicks(ticks);
    const std::string file = (w.root / "watched.kdr").string();
    std::string error;
    EXPECT_TRUE(replay::SaveReplay(file, w.recorded.Whole(), error)) << error;
    return file;
}

// Answers the question the window asks next with this button, noting its text in asked, and with
// closeNext closes the dialog that follows. Any other dialog that comes instead of the question
// is closed, so that a missing question fails, never hangs.
void Answer(QMessageBox::StandardButton button, QStringList* asked, bool closeNext = false) {
    Later([=] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(button)) {
            *asked << box->text();
            box->button(button)->click();
            if (closeNext)
                Later([] {
                    if (auto* next = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                        next->reject();
                });
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

QString Caption(const char* name, int language = 0) {
    return QString::fromStdString(ui::CaptionFor(name, language).value_or("(no caption)"));
}

void AltKey(QWidget* target, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::AltModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::AltModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
    QApplication::processEvents();
}

// Runs the window until done() or for at most ms, noting every line shown over the picture.
void RunUntil(Window& w, const std::function<bool()>& done, int ms, QStringList* seen = nullptr) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms) {
        QApplication::processEvents();
        if (seen)
            for (const QString& line : w.form->DXDraw().Overlay())
                if (!seen->contains(line)) *seen << line;
    }
}

// A headless copy of the game in the background on a copy of the window's data.
void Background(Window& w, const std::string& name, const std::string& args) {
    const fs::path root = w.root / name;
    fs::create_directories(root);
    fs::copy(w.root / "data", root / "data", fs::copy_options::recursive);
    const std::string command = std::string(KORDAVEL_ROOT) + "/kordavel --headless --root " +
                                root.string() + " " + args + " > " + (root / "out").string() +
                                " 2>&1 &";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

}  // namespace

// A replay watched in the window says over its picture when it is paused or fast, in the
// player's language; the text is drawn on the window, never into the game's frame, and goes when
// the state it tells of ends.
TEST(Overlay, AWatchedReplayShowsItsPauseAndSpeedOverThePicture) {
    Window w(recording::Keep::GamesAndRun);
    const std::string file = SaveOnePlayerGame(w, 200);
    app::DrawSurface& surface = w.form->DXDraw();
    for (int language : {0, 1}) {
        SCOPED_TRACE(language);
        w.game->Settings.language = language;
        // The second time full screen, where the text must show as well.
        if (language == 1) kdv::ClickMenu(*w.game, "MFullWin");
        auto caption = [language](const char* name) {
            return QString::fromStdString(*ui::CaptionFor(name, language));
        };
        w.form->StartWatching(file);
        RunTicks(20);
        // The viewer's keys first: the title that lists them is out of sight in full screen.
        EXPECT_EQ(surface.Overlay(), QStringList{caption("OverlayReplayKeys")});
        Tap(&surface, Qt::Key_P);
        EXPECT_EQ(surface.Overlay(), QStringList{caption("OverlayReplayPaused")});
        EXPECT_TRUE(w.form->windowTitle().endsWith(caption("ReplayPaused")));
        const QImage frame = surface.View().copy();
        RunTicks(10);
        EXPECT_EQ(surface.View(), frame);  // paused, and the text is not in the frame
        // Text over the top of the picture only.
        const auto [first, last] = RowsOverPicture(surface);
        EXPECT_GE(first, 0);
        EXPECT_GT(last, first + 5);
        EXPECT_LT(last, surface.height() / 4);
        EXPECT_EQ(w.form->IsFullScreen(), language == 1);
        Tap(&surface, Qt::Key_P);
        Tap(&surface, Qt::Key_F);
        EXPECT_EQ(surface.Overlay(), QStringList{caption("OverlayReplayFast")});
        Tap(&surface, Qt::Key_Escape);
        EXPECT_TRUE(surface.Overlay().isEmpty());
        EXPECT_EQ(w.form->windowTitle(), " Kordavel");
    }
}

// A network game waiting for its second player says so over the picture, with the port. Esc
// stops the wait at once (there is no game yet to end for the other player), and the player's
// own game, which had reached a stage intro, is back at the title, in its replay too.
TEST(Overlay, AHostedNetworkGameShowsItsWaitOverThePictureAndEndsAtTheTitle) {
    Window w(recording::Keep::GamesAndRun);
    w.form->findChild<QAction*>("MStart1Player")->trigger();  // through the recording
    RunTicks(3);
    ASSERT_EQ(w.game->GameState, kdv::gsStageIntro);
    const int port = 20000 + int(::getpid() % 20000);
    runner::CommandLine options;
    options.host = "127.0.0.1:" + std::to_string(port);
    options.netMode = 3;
    w.form->StartNetwork(options);
    RunTicks(10);
    const QString waiting = QString::fromStdString(*ui::CaptionFor("NetWaitJoin", 0)) + " " +
                            QString::number(port) + "…";
    EXPECT_EQ(w.form->DXDraw().Overlay(), QStringList{waiting});
    EXPECT_EQ(w.form->windowTitle(), " Kordavel - " + waiting);
    EXPECT_GT(RowsOverPicture(w.form->DXDraw()).second, 0);
    Tap(&w.form->DXDraw(), Qt::Key_Escape);
    EXPECT_TRUE(w.form->DXDraw().Overlay().isEmpty());
    EXPECT_EQ(w.form->windowTitle(), " Kordavel");
    EXPECT_EQ(w.game->GameState, kdv::gsTitleScroll);

    // The return to the title is part of the session's replay.
    RunTicks(5);
    adapters::VirtualWindow window;
    kdv::Services outer;
    outer.window = &window;
    replay::Playback playback(w.recorded.Whole(), *w.files, outer);
    ASSERT_TRUE(playback.Start());
    while (playback.Step()) {
    }
    const long ticks = long(playback.TicksRun());
    EXPECT_EQ(runner::StateHash(playback.Game(), ticks), runner::StateHash(*w.game, ticks));
}

// The window joins a headless host and plays player 2 with a gamepad button bound in its own
// settings only (the host's player 2 has no gamepad binding): player 2's gun fires in the host's
// game, and the window is back at its title once the host's game is over.
TEST(NetworkWindow, AJoinerFiresPlayerTwosGunWithAGamepadBoundAtHome) {
    // A window given no replay folder keeps no replay, least of all where the test runs.
    auto keptHere = [] {
        return std::count_if(fs::directory_iterator("."), {}, [](const fs::directory_entry& e) {
            return replay::IsGameFileName(e.path().filename().string());
        });
    };
    const auto keptBefore = keptHere();
    Window w;
    SDL_InitSubSystem(SDL_INIT_JOYSTICK);
    const int pad = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 12, 1);
    ASSERT_GE(pad, 0) << SDL_GetError();
    SDL_Joystick* handle = SDL_JoystickOpen(pad);
    ASSERT_TRUE(handle);
    constexpr int kButton = 5;
    w.game->Settings.joystick1[kdv::Fire] = 4 + kButton;

    const fs::path host = w.root / "host";
    fs::create_directories(host);
    fs::copy(w.root / "data", host / "data", fs::copy_options::recursive);
    std::ofstream script(host / "host.txt");
    script << "20 key 32 down\n22 key 32 up\n";
    for (int t = 30; t < 300; t += 3)
        script << t << " dump " << (host / "d").string() << t << ".json\n";
    script.close();
    const int port = 20000 + int((::getpid() * 3) % 20000);
    const std::string command = std::string(KORDAVEL_ROOT) + "/kordavel --headless --root " +
                                host.string() + " --host 127.0.0.1:" + std::to_string(port) +
                                " --mode two --ticks 300 --script " + (host / "host.txt").string() +
                                " > " + (host / "out").string() + " 2>&1 &";
    ASSERT_EQ(std::system(command.c_str()), 0);
    RunTicks(20);
    BoxCatcher boxes;
    runner::CommandLine options;
    options.join = "127.0.0.1:" + std::to_string(port);
    w.form->StartNetwork(options);
    RunTicks(150);
    SDL_JoystickSetVirtualButton(handle, kButton, 1);
    RunTicks(10);
    SDL_JoystickSetVirtualButton(handle, kButton, 0);
    for (int i = 0; i < 500 && !fs::exists(host / "d297.json"); ++i) RunTicks(10);
    RunTicks(50);
    SDL_JoystickClose(handle);
    SDL_JoystickDetachVirtual(pad);

    int fired = 0;
    for (int t = 30; t < 300; t += 3) {
        std::ifstream in(host / ("d" + std::to_string(t) + ".json"));
        const std::string dump((std::istreambuf_iterator<char>(in)), {});
        const size_t second = dump.find("\"bullet\"", dump.find("\"bullet\"") + 1);
        if (second == std::string::npos) continue;
        const size_t state = dump.find("\"state\": ", second);
        if (state != std::string::npos && dump.compare(state + 9, 2, "0,") != 0) ++fired;
    }
    EXPECT_GT(fired, 0) << "player 2's bullet never flew in the host's game";
    EXPECT_EQ(w.game->GameState, kdv::gsTitleScroll);
    EXPECT_EQ(boxes.told, QStringList{QString::fromStdString(options.join + ": " +
                                                             *ui::CaptionFor("NetOver", 0))});
    EXPECT_EQ(keptHere(), keptBefore);
}

// A network game hosted from the demo: the display keys stay the window's, Options and Select
// Level are not offered, and leaving brings back the title a local game returns to. In play, a menu
// command that would end the game for both asks first, and one that changes only the window does
// not; Network Game during a local game asks before it ends that game, which does not run on behind
// the dialog.
TEST(NetworkWindow, MenuCommandsAndDisplayKeysMeetANetworkGameAsALocalGameWould) {
    Window w;
    auto item = [&](const char* name) { return w.form->findChild<QAction*>(name); };
    app::DrawSurface& surface = w.form->DXDraw();
    item("MDemo")->trigger();
    RunTicks(3);
    ASSERT_EQ(w.game->GameMode, kdv::gmDemo);
    const int port = 20000 + int((::getpid() * 7) % 20000);
    runner::CommandLine options;
    options.host = "127.0.0.1:" + std::to_string(port);
    w.form->StartNetwork(options);
    EXPECT_FALSE(item("MOptions")->isEnabled());
    EXPECT_FALSE(item("MSelectLevel")->isEnabled());
    AltKey(&surface, Qt::Key_1);
    EXPECT_EQ(surface.size(), QSize(320, 200));
    AltKey(&surface, Qt::Key_2);
    EXPECT_EQ(surface.size(), QSize(640, 400));
    EXPECT_FALSE(surface.Overlay().isEmpty());  // still waiting for a player
    Tap(&surface, Qt::Key_Escape);
    EXPECT_TRUE(item("MOptions")->isEnabled());
    EXPECT_EQ(w.game->GameMode, kdv::gmOnePlayer);  // Start, Start plays (as headless shows)
    w.form->findChild<QAction*>("MStart1Player")->trigger();

    // Hosted again with a player: back to the title, then the game.
    RunTicks(3);
    Background(w, "joiner", "--join 127.0.0.1:" + std::to_string(port) + " --ticks 5000");
    QStringList asked;
    Answer(QMessageBox::Yes, &asked, true);
    item("MNetworkGame")->trigger();  // the local game is asked about; the dialog is closed
    EXPECT_EQ(asked, QStringList{Caption("NetEndGameAsk")});
    EXPECT_EQ(w.game->GameState, kdv::gsTitleScroll);
    w.form->StartNetwork(options);
    RunUntil(
        w, [&] { return surface.Overlay().isEmpty(); }, 10000);
    ASSERT_TRUE(surface.Overlay().isEmpty()) << surface.Overlay().join("; ").toStdString();
    // File -> Pause pauses the stage for both, as the host's Pause key does.
    Tap(&surface, Qt::Key_Space);
    RunTicks(10);
    item("PauseOnOffP1")->trigger();
    RunUntil(
        w, [&] { return !surface.Overlay().isEmpty(); }, 3000);
    EXPECT_EQ(surface.Overlay(), QStringList{Caption("NetYouPaused")});
    item("MLangRussian")->trigger();  // asks nothing, and the game goes on
    item("MLangEnglish")->trigger();
    Answer(QMessageBox::No, &asked);
    item("MStart1Player")->trigger();
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(asked.value(1), Caption("NetLeaveAsk"));
    EXPECT_FALSE(item("MOptions")->isEnabled());  // still in the network game
    EXPECT_EQ(w.game->GameState, kdv::gsTitleScroll);
    Answer(QMessageBox::Yes, &asked);
    item("MStart1Player")->trigger();
    EXPECT_EQ(asked.size(), 3);
    EXPECT_TRUE(item("MOptions")->isEnabled());
    EXPECT_EQ(w.game->GameState, kdv::gsStageIntro);
    EXPECT_EQ(w.game->GameMode, kdv::gmOnePlayer);
    Answer(QMessageBox::No, &asked);
    item("MNetworkGame")->trigger();
    EXPECT_EQ(asked.size(), 4);
    EXPECT_EQ(w.game->GameState, kdv::gsStageIntro);  // the player's game goes on
}

// A joiner that falls silent holds the hosting window's game: the overlay names it and counts
// the wait down from the wait kept, and Esc asks whether to stop waiting, which ends the game
// at once rather than when the wait is over.
TEST(NetworkWindow, ASilentPartnerIsWaitedForByNameUntilThePlayerStopsWaiting) {
    Window w;
    const int port = 20000 + int((::getpid() * 13) % 20000);
    runner::CommandLine options;
    options.host = "127.0.0.1:" + std::to_string(port);
    w.form->StartNetwork(options);
    const fs::path root = w.root / "ann";
    fs::create_directories(root);
    fs::copy(w.root / "data", root / "data", fs::copy_options::recursive);
    std::ofstream(root / "kordavel.ini") << "[Network]\nName=Ann\n";
    const std::string command = std::string(KORDAVEL_ROOT) + "/kordavel --headless --root " +
                                root.string() + " --join " + options.host + " >" +
                                (root / "out").string() + " 2>&1 & echo $! >" +
                                (root / "pid").string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const pid_t joiner = std::stoi(testkit::ReadAll(root / "pid"));
    app::DrawSurface& surface = w.form->DXDraw();
    // The joiner keeps its seat once the game is agreed: both play from then on.
    const fs::path seat = root / "replays" / ("seat-127.0.0.1_" + std::to_string(port) + ".txt");
    RunUntil(
        w, [&] { return fs::exists(seat) && surface.Overlay().isEmpty(); }, 10000);
    ASSERT_TRUE(fs::exists(seat));
    ASSERT_EQ(::kill(joiner, SIGSTOP), 0);
    const QRegularExpression counting("^" + Caption("NetWaitFor") + " Ann — ([0-9]+) " +
                                      Caption("NetSeconds") + "$");
    QRegularExpressionMatch match;
    RunUntil(
        w, [&] { return (match = counting.match(surface.Overlay().value(0))).hasMatch(); }, 5000);
    ASSERT_TRUE(match.hasMatch()) << surface.Overlay().join("; ").toStdString();
    EXPECT_GE(match.captured(1).toInt(), int(net::kGiveUpMs / 1000) - 4);
    EXPECT_LT(match.captured(1).toInt(), int(net::kGiveUpMs / 1000));
    QStringList asked;
    Answer(QMessageBox::Yes, &asked);
    Tap(&surface, Qt::Key_Escape);
    auto over = [&] { return w.form->findChild<QAction*>("MOptions")->isEnabled(); };
    RunUntil(w, over, 3000);
    EXPECT_TRUE(over());  // the network game ended at once
    EXPECT_EQ(asked, QStringList{Caption("NetGiveUpAsk")});
    ::kill(joiner, SIGKILL);
}

// The window joins a headless host. Its overlay says that the host starts the stage, that only
// the host pauses when the joiner presses its Pause key, and who paused while the game is
// paused; the game still ends on both machines as one, and the ending names the host.
TEST(NetworkWindow, AJoinerIsToldWhoStartsAndPausesTheGame) {
    Window w;
    const int port = 20000 + int((::getpid() * 11) % 20000);
    const fs::path script = w.root / "host.txt";
    std::ofstream(script) << "150 key 32 down\n152 key 32 up\n350 key 80 down\n352 key 80 up\n";
    Background(w, "host",
               "--host 127.0.0.1:" + std::to_string(port) + " --mode two --ticks 600 --script " +
                   script.string());
    RunTicks(20);
    BoxCatcher boxes;
    runner::CommandLine options;
    options.join = "127.0.0.1:" + std::to_string(port);
    w.form->StartNetwork(options);
    QStringList seen;
    RunUntil(
        w, [&] { return seen.contains(Caption("NetHostStarts")); }, 10000, &seen);
    RunUntil(
        w, [&] { return !w.form->DXDraw().Overlay().contains(Caption("NetHostStarts")); }, 10000,
        &seen);
    Tap(&w.form->DXDraw(), Qt::Key_P);
    RunUntil(
        w, [&] { return !boxes.told.isEmpty(); }, 20000, &seen);
    EXPECT_TRUE(seen.contains(Caption("NetHostStarts")));
    EXPECT_TRUE(seen.contains(Caption("NetOnlyHostPauses")));
    EXPECT_TRUE(seen.contains(Caption("NetHostPaused")));
    EXPECT_EQ(boxes.told,
              QStringList{QString::fromStdString(options.join) + ": " + Caption("NetOver")});
}

// A watched replay shows its keys over the picture, File -> Pause and Alt+Enter do not end it,
// and its end is held a moment with a line that says it ended before the title comes back.
TEST(Overlay, AWatchedReplayHoldsItsEndWithAWordBeforeTheTitle) {
    Window w(recording::Keep::GamesAndRun);
    const std::string file = SaveOnePlayerGame(w, 60);
    BoxCatcher boxes;
    app::DrawSurface& surface = w.form->DXDraw();
    w.game->Settings.language = 1;
    w.form->StartWatching(file);
    EXPECT_EQ(surface.Overlay(), QStringList{Caption("OverlayReplayKeys", 1)});
    w.form->findChild<QAction*>("PauseOnOffP1")->trigger();
    EXPECT_EQ(surface.Overlay(), QStringList{Caption("OverlayReplayPaused", 1)});
    AltKey(&surface, Qt::Key_Return);
    EXPECT_TRUE(w.form->IsFullScreen());
    EXPECT_EQ(surface.Overlay(), QStringList{Caption("OverlayReplayPaused", 1)});
    w.form->findChild<QAction*>("PauseOnOffP1")->trigger();
    auto ended = [&] {
        return !surface.Overlay().isEmpty() &&
               surface.Overlay()[0].startsWith(Caption("OverlayReplayEnded", 1));
    };
    RunUntil(w, ended, 10000);
    ASSERT_TRUE(ended());
    QElapsedTimer held;
    held.start();
    RunUntil(
        w, [&] { return w.form->windowTitle() == " Kordavel"; }, 5000);
    EXPECT_GT(held.elapsed(), 1000);
    EXPECT_TRUE(surface.Overlay().isEmpty());
    EXPECT_TRUE(boxes.told.isEmpty());
}

// F10 opens File in a window too; File -> Controls lists both players' bindings as they are now,
// in the player's language, and the game's own menu items are captioned and dumped like the rest.
TEST(Menu, F10OpensFileAndControlsListsTheCurrentBindingsInTheLanguage) {
    Window w;
    ASSERT_FALSE(w.form->IsFullScreen());
    Tap(&w.form->DXDraw(), Qt::Key_F10);
    QMenu* file = w.form->findChild<QMenu*>("MFile");
    EXPECT_EQ(QApplication::activePopupWidget(), file);
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();

    w.game->Settings.keys1[kdv::Fire] = 'X';
    w.game->Settings.joystick2[kdv::MoveLeft] = 6;  // the third button
    for (int language : {0, 1}) {
        SCOPED_TRACE(language);
        kdv::ClickMenu(*w.game, language == 0 ? "MLangEnglish" : "MLangRussian");
        QString shown, title;
        Later([&] {
            if (auto* box = w.form->findChild<QMessageBox*>("ControlsBox")) {
                shown = box->text();
                title = box->windowTitle();
                box->accept();
            }
        });
        QAction* controls = w.form->findChild<QAction*>("MControls");
        ASSERT_TRUE(controls);
        controls->trigger();
        const std::string text = shown.toStdString();
        auto uiText = [language](const char* english) { return ui::UiText(english, language); };
        EXPECT_EQ(title.toStdString(), *ui::CaptionFor("MControls", language));
        EXPECT_NE(text.find(uiText("Fire") + ": X / " + kdv::JoystickName(kdv::kNoJoystickState)),
                  std::string::npos)
            << text;
        EXPECT_NE(
            text.find(uiText("Left") + ": " + kdv::KeyName(w.game->Settings.keys2[kdv::MoveLeft]) +
                      " / " + kdv::JoystickName(6)),
            std::string::npos)
            << text;
        EXPECT_NE(text.find(uiText("Player 2")), std::string::npos);
        // The items the game adds are in the forms dump, in the language.
        const std::string forms = w.form->FormsJson();
        for (const char* name : {"MWatchReplay", "MNetworkGame", "MControls"}) {
            const std::string caption = *ui::CaptionFor(name, language);
            EXPECT_EQ(w.form->findChild<QAction*>(name)->text().toStdString(), caption);
            EXPECT_NE(forms.find("\"name\": \"" + std::string(name) + "\""), std::string::npos);
            EXPECT_NE(forms.find("\"caption\": \"" + caption + "\""), std::string::npos) << name;
        }
    }
}

// F10 made a game key (the capture dialog takes it like any key) is that key in the game: the
// menu stays shut and the game sees it, down and up.
TEST(Menu, F10BoundAsAGameKeyReachesTheGame) {
    Window w;
    w.game->Settings.keys1[kdv::Fire] = 121;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(&w.form->DXDraw(), &press);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    EXPECT_EQ(w.game->LastKeyDown, 121);
    EXPECT_TRUE(w.input.Keys().Live(121));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(&w.form->DXDraw(), &release);
    EXPECT_FALSE(w.input.Keys().Live(121));
}

// File -> Watch Replay lists the kept games of the window's own replay folder in columns, newest
// first, with every text whole; Ok starts watching the chosen one.
TEST(Dialogs, WatchReplayListsTheKeptGamesInColumns) {
    Window w(recording::Keep::Games);
    const std::filesystem::path folder = w.root / "replays";
    std::vector<replay::Replay> games;
    for (const char* start : {"MStart1Player", "MStart2Player"}) {
        w.recorded.Menu(start);
        const long until = w.form->TicksRun() + 30;
        QElapsedTimer waited;
        waited.start();
        while (w.form->TicksRun() < until && waited.elapsed() < 5000) QApplication::processEvents();
        auto game = w.recorded.GameInProgress();
        ASSERT_TRUE(game);
        games.push_back(*game);
    }
    // The window kept the first game when the second began; the second is still in progress.
    std::string error;
    ASSERT_FALSE(
        replay::SaveGame(folder, games[1], std::chrono::system_clock::now(), error).empty())
        << error;
    // A joiner's network game that ended yesterday on stage 10, and a renamed file of stage 9.
    replay::Replay joined = games[0], renamed = games[0];
    joined.header.side = replay::Side::Joiner;
    joined.header.partner = "host.example:7510";
    joined.header.stage = 10;
    const fs::path joinedPath = replay::SaveGame(
        folder, joined, std::chrono::system_clock::now() - std::chrono::hours(24), error);
    renamed.header.stage = 9;
    renamed.header.startTime -= 3'600'000;  // an hour before the others: it sorts between
    ASSERT_TRUE(replay::SaveReplay((folder / "keep-9.kdr").string(), renamed, error)) << error;
    bool listed = false;
    Later([&] {
        auto* list = w.form->findChild<app::ReplayList*>("ReplayList");
        ASSERT_TRUE(list);
        listed = true;
        QTreeWidget& table = list->Table();
        EXPECT_EQ(table.columnCount(), 6);
        EXPECT_EQ(table.topLevelItemCount(), 4);
        if (table.topLevelItemCount() != 4) return list->reject();
        // Oldest last, by the time its name gives: the joiner's game of yesterday.
        const QTreeWidgetItem* oldest = table.topLevelItem(3);
        EXPECT_EQ(oldest->text(5), "Joiner, host.example:7510");
        EXPECT_EQ(oldest->text(0),
                  app::NameTime(joinedPath.filename().string())->toString("yyyy-MM-dd hh:mm:ss"));
        // Stages sort as numbers: 1, 1, 9, 10 (as text, 10 would come before 9).
        table.sortByColumn(2, Qt::AscendingOrder);
        QStringList stages;
        for (int i = 0; i < 4; ++i) stages << table.topLevelItem(i)->text(2);
        EXPECT_EQ(stages, QStringList({"1", "1", "9", "10"}));
        table.sortByColumn(0, Qt::DescendingOrder);
        const QTreeWidgetItem* newest = table.topLevelItem(0);
        const replay::Header& h = games[1].header;
        EXPECT_EQ(newest->text(1), "Two players");
        EXPECT_EQ(newest->text(2), QString::number(h.stage));
        EXPECT_EQ(newest->text(3).toStdString(), ui::LengthText(h.ticks));
        EXPECT_EQ(newest->text(4), QString("%1 : %2").arg(h.scores[0]).arg(h.scores[1]));
        EXPECT_EQ(table.topLevelItem(1)->text(1), "One player");
        const QFontMetrics metrics(table.font());
        for (int c = 0; c < 6; ++c)
            EXPECT_GE(table.columnWidth(c), metrics.horizontalAdvance(newest->text(c))) << c;
        EXPECT_TRUE(list->findChild<QPushButton*>("OtherFile"));
        table.setCurrentItem(table.topLevelItem(1));
        list->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    w.form->findChild<QAction*>("MWatchReplay")->trigger();
    ASSERT_TRUE(listed);
    // The one-player game is being watched in the window.
    EXPECT_EQ(w.form->windowTitle().toStdString(),
              " Kordavel - " + *ui::CaptionFor("ReplayWatching", 0));
    Tap(&w.form->DXDraw(), Qt::Key_Escape);
    EXPECT_EQ(w.form->windowTitle(), " Kordavel");
}

// With no replays kept yet, the list says so in the player's language and offers no Ok; another
// file can still be opened.
TEST(Dialogs, AnEmptyReplayListSaysSoAndOffersNoOk) {
    App();
    for (int language : {0, 1}) {
        app::ReplayList list(nullptr, fs::temp_directory_path() / "kordavel-no-replays", language);
        auto* none = list.findChild<QLabel*>("NoReplays");
        ASSERT_TRUE(none);
        EXPECT_EQ(none->text().toStdString(), ui::UiText("No replays yet.", language));
        EXPECT_FALSE(
            list.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
        EXPECT_TRUE(list.findChild<QPushButton*>("OtherFile")->isEnabled());
    }
}

// The editor's Esc says over the title which stage the map became, until a game takes the
// picture; Select Level marks the stages the editor added after the stock ones, and the one shown
// when it is one of them.
TEST(Overlay, TheEditorsSaveIsToldOverTheTitleAndSelectLevelMarksItsStages) {
    Window w;
    std::string error;
    const auto paths = app::FindPaths(w.root, app::PathEnvironment{}, error);
    ASSERT_TRUE(paths) << error;
    const auto stock = app::StockLevelRecords(*paths);
    ASSERT_TRUE(stock);
    w.form->SetStockLevels(stock);
    const int stage = w.game->LevelCount + 1;
    ASSERT_GE(stage, *stock);
    w.form->findChild<QAction*>("MLevelEditor")->trigger();
    RunTicks(3);
    Tap(&w.form->DXDraw(), Qt::Key_Escape);
    RunTicks(3);
    ASSERT_EQ(w.game->LevelCount, stage);
    const std::string told = *ui::CaptionFor("OverlayLevelSaved", 0) + " " + std::to_string(stage);
    EXPECT_EQ(w.form->OverlayLines(), std::vector<std::string>{told});
    for (int shown : {*stock - 1, stage}) {
        w.game->SelectLevel.position = shown;
        QString note;
        bool visible = false;
        Later([&] {
            auto* select = w.form->findChild<app::TSelectForm*>("TSelectForm");
            ASSERT_TRUE(select);
            auto* label = w.Find<QLabel>(select, "OwnLevelsNote");
            visible = label->isVisible();
            note = label->text();
            select->reject();
        });
        kdv::ClickMenu(*w.game, "MSelectLevel");
        EXPECT_TRUE(visible);
        EXPECT_TRUE(note.contains(QString::number(*stock))) << note.toStdString();
        EXPECT_EQ(note.startsWith("★"), shown == stage) << note.toStdString();
    }
    w.form->findChild<QAction*>("MStart1Player")->trigger();
    RunTicks(2);
    EXPECT_TRUE(w.form->OverlayLines().empty());
}

// Switched to Russian, every message the game adds comes out whole in Russian: the start-up
// message of an overlong level file, the editor's failed save, the network game's refusals to
// start, the replay refusals; the dialogs' titles and Qt's own buttons follow. File names,
// addresses, numbers and the program's name stay as they are.
TEST(Dialogs, EveryMessageOfTheGameIsWholeInRussian) {
    App();
    BoxCatcher boxes;
    const long records = kdv::kMaxLevelRecords + 1;
    Window w(recording::Keep::Nothing, [&](const fs::path& root) {
        std::ofstream(root / "kordavel.ini") << "[Options]\nLanguage=1\n";
        fs::resize_file(root / "data/lswap.dat", uint64_t(records) * kdv::kLevelRecordBytes);
    });
    ASSERT_GT(w.form->TicksRun(), 0);
    w.form->findChild<QAction*>("MLevelEditor")->trigger();
    RunTicks(2);
    Tap(&w.form->DXDraw(), Qt::Key_Escape);
    RunTicks(4);

    // A port in use, an address without a port, one that does not exist, a stage past the last.
    const int busy = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::getsockname(busy, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const std::string port = std::to_string(ntohs(at.sin_port));
    auto network = [&](std::string host, std::string join, long stage) {
        runner::CommandLine options;
        options.host = std::move(host);
        options.join = std::move(join);
        options.netMode = 2;
        options.stage = stage;
        w.form->StartNetwork(options);
    };
    network("127.0.0.1:" + port, "", 1);
    network("", "nohostport", 1);
    network("", "nosuch.invalid:7510", 1);
    network("127.0.0.1:" + port, "", w.game->LevelCount + 1);
    ::close(busy);

    // Replays: another build's, another level file's, one that is none, one cut short.
    replay::Replay made;
    made.header.build = "other-build";
    const std::string otherBuild = (w.root / "other-build.kdr").string();
    std::string error;
    ASSERT_TRUE(replay::SaveReplay(otherBuild, made, error)) << error;
    made.header.build = replay::BuildIdentity();
    const std::string otherLevels = (w.root / "other-levels.kdr").string();
    ASSERT_TRUE(replay::SaveReplay(otherLevels, made, error)) << error;
    std::ofstream(w.root / "none.kdr") << "not a replay at all\n";
    std::vector<char> bytes(64);
    std::ifstream(otherLevels, std::ios::binary).read(bytes.data(), 64);
    std::ofstream(w.root / "short.kdr", std::ios::binary).write(bytes.data(), 12);
    for (const char* file : {"other-build.kdr", "other-levels.kdr", "none.kdr", "short.kdr"})
        w.form->StartWatching((w.root / file).string());
    RunTicks(4);

    const QStringList expected = {
        "записей в нём 373",   "заполнен",         "не занят ли он",  "ХОСТ:ПОРТ", "nosuch.invalid",
        "нет в файле уровней", "сборкой Kordavel", "с другим файлом", "не повтор", "обрезан"};
    ASSERT_EQ(boxes.told.size(), expected.size()) << boxes.told.join("\n").toStdString();
    for (int i = 0; i < expected.size(); ++i) {
        QString told = boxes.told[i];
        EXPECT_TRUE(told.contains(expected[i])) << told.toStdString();
        // What is not the player's language: quoted names, the program, a build's name, files.
        told.remove(QRegularExpression("[-a-z]+\\.kdr|\"[^\"]*\"|Kordavel|other-build"));
        told.remove(QString::fromStdString(replay::BuildIdentity()));
        EXPECT_FALSE(told.contains(QRegularExpression("[A-Za-z]"))) << boxes.told[i].toStdString();
    }

    EXPECT_EQ(w.form->OptionForm().windowTitle().toStdString(), " Настройки Kordavel");
    EXPECT_EQ(w.form->SelectForm().windowTitle().toStdString(), " Выбор уровня");
    // Qt's own buttons, where Qt's translations are installed.
    if (!QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).exists("qtbase_ru.qm"))
        GTEST_SKIP() << "no Qt translations (qt6-translations-l10n) on this machine";
    QString cancel;
    Later([&] {
        auto* list = w.form->findChild<app::ReplayList*>("ReplayList");
        ASSERT_TRUE(list);
        cancel = list->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text();
        list->reject();
    });
    w.form->findChild<QAction*>("MWatchReplay")->trigger();
    EXPECT_EQ(cancel.remove('&').toStdString(), "Отмена");
}

// The router switch and the name shown nearby are kept in a section of their own, written on
// Ok only and never into the game's settings; the Network dialog remembers its port; a game
// hosted on every address, with the router and the answers off, says where players join and
// gives its code.
TEST(Dialogs, NetworkChoicesAreKeptApartFromTheGamesSettings) {
    Window w;
    auto& options = w.form->OptionForm();
    auto choose = [&](const char* finish) {
        Later([&, finish] {
            ASSERT_TRUE(w.Find<QCheckBox>(&options, "RouterCheck")->isChecked());
            w.Find<QCheckBox>(&options, "RouterCheck")->setChecked(false);
            w.Find<QLineEdit>(&options, "NetNameEdit")->setText("Den");
            w.Find<QPushButton>(&options, finish)->click();
        });
        kdv::ClickMenu(*w.game, "MOptions");
    };
    const std::string settings = kdv::FormatSettings(w.game->Settings);
    choose("CancelButton");
    EXPECT_EQ(w.Ini().find("[Network]"), std::string::npos) << w.Ini();
    choose("OkButton");
    net::Preferences saved = net::ParsePreferences(w.Ini());
    EXPECT_FALSE(saved.openRouter);
    EXPECT_EQ(saved.name, "Den");
    EXPECT_NE(w.Ini().find("[Network]\nOpenRouter=0\n"), std::string::npos) << w.Ini();
    EXPECT_EQ(kdv::FormatSettings(w.game->Settings), settings);

    // Joining from the dialog (nothing looks for games: the test stays off the network).
    saved.discovery = false;
    ASSERT_TRUE(net::SavePreferences(*w.files, saved));
    const int port = 20000 + int((::getpid() * 3) % 20000);
    Later([&] {
        auto* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QRadioButton*>("NetJoin")->setChecked(true);
        EXPECT_FALSE(dialog->findChild<QWidget*>("NetGamesList")->isVisible());
        dialog->findChild<QLineEdit*>("NetAddressEdit")->setText("127.0.0.1");
        dialog->findChild<QSpinBox*>("NetPortEdit")->setValue(port);
        dialog->findChild<QPushButton*>("NetOkButton")->click();
    });
    w.form->findChild<QAction*>("MNetworkGame")->trigger();
    EXPECT_EQ(net::ParsePreferences(w.Ini()).port, port);
    Tap(&w.form->DXDraw(), Qt::Key_Escape);

    runner::CommandLine host;
    host.host = std::to_string(port + 1);
    w.form->StartNetwork(host);
    RunTicks(3);
    const QStringList overlay = w.form->DXDraw().Overlay();
    ASSERT_EQ(overlay.size(), 2) << overlay.join("; ").toStdString();
    EXPECT_TRUE(overlay[1].contains(
        QRegularExpression("outside, they need UDP port " + QString::number(port + 1) +
                           " forwarded to this computer and the code [2-9A-Z]{5}-[2-9A-Z]{5}\\.$")))
        << overlay[1].toStdString();
    // Whole in Russian but for the code, the addresses and "UDP".
    w.form->findChild<QAction*>("MLangRussian")->trigger();
    RunTicks(2);
    QString russian = w.form->DXDraw().Overlay().value(1);
    EXPECT_TRUE(russian.contains(QString::fromUtf8("перенаправленный"))) << russian.toStdString();
    russian.remove(QRegularExpression("[2-9A-Z]{5}-[2-9A-Z]{5}|UDP"));
    EXPECT_FALSE(russian.contains(QRegularExpression("[A-Za-z]"))) << russian.toStdString();
    w.form->findChild<QAction*>("MLangEnglish")->trigger();
    Tap(&w.form->DXDraw(), Qt::Key_Escape);
    EXPECT_TRUE(w.form->DXDraw().Overlay().isEmpty());
}

// Inside router_test.sh's namespaces only (it sets KORDAVEL_NETLAB), where two games are hosted
// on the neighbour's machine, one with another graphics file: the join side lists both, greys
// the other one with the reason, and a double-click on the first joins it.
TEST(Dialogs, TheNetworkDialogListsTheGamesNearbyAndJoinsOneOnADoubleClick) {
    if (!std::getenv("KORDAVEL_NETLAB"))
        GTEST_SKIP() << "asks the network: runs inside router_test.sh's namespaces only";
    App();
    adapters::DiskFiles files{fs::path(KORDAVEL_ROOT)};
    app::NetDialog dialog(nullptr, 0, 35, 7510, net::IdentityOf(files, replay::BuildIdentity()),
                          true);
    dialog.show();
    dialog.findChild<QRadioButton*>("NetJoin")->setChecked(true);
    auto* list = dialog.findChild<QListWidget*>("NetGamesList");
    ASSERT_TRUE(list->isVisible());
    QElapsedTimer waited;
    waited.start();
    while (list->count() < 2 && waited.elapsed() < 5000) QApplication::processEvents();
    ASSERT_EQ(list->count(), 2);
    QListWidgetItem *same = nullptr, *other = nullptr;
    for (int i = 0; i < list->count(); ++i)
        (list->item(i)->flags() & Qt::ItemIsEnabled ? same : other) = list->item(i);
    ASSERT_NE(same, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(same->data(Qt::UserRole).toString().toStdString(), "192.168.77.2:7510");
    EXPECT_TRUE(same->text().contains("Duel, Stage 4")) << same->text().toStdString();
    EXPECT_TRUE(other->text().contains("your graphics file differs from the host's"))
        << other->text().toStdString();
    emit list->itemDoubleClicked(other);  // greyed: nothing happens
    EXPECT_TRUE(dialog.isVisible());
    emit list->itemDoubleClicked(same);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Address(), "192.168.77.2:7510");
}

// A game whose replay cannot be saved (here the replay folder is a file, which stops root as
// well) is told in a message box, in the player's language, as a failed save of the settings is.
TEST(Dialogs, AReplayThatCannotBeSavedIsToldInAMessageBox) {
    Window w(recording::Keep::Games);
    std::ofstream(w.root / "replays") << "in the way\n";
    w.game->Settings.language = 1;
    BoxCatcher boxes;
    for (const char* item : {"MStart1Player", "MDemo"}) {
        w.form->findChild<QAction*>(item)->trigger();
        RunTicks(20);
    }
    ASSERT_EQ(boxes.told.size(), 1);
    const QString told = boxes.told[0];
    EXPECT_TRUE(
        told.startsWith(QString::fromStdString(ui::MessageText("The replay was not saved: ", 1))))
        << told.toStdString();
    EXPECT_TRUE(told.contains("replays")) << told.toStdString();
    EXPECT_EQ(w.game->FailedSaves, 1);
}

// A replay whose last state hash is not the game's (as when another build or data decide a game
// differently) stops the viewer at its end with the tick where it parts, told in a box.
TEST(Overlay, AWatchedReplayThatPartsIsStoppedAndToldWhere) {
    Window w(recording::Keep::GamesAndRun);
    const std::string file = SaveOnePlayerGame(w, 60);
    std::string error;
    auto data = replay::LoadReplay(file, error);
    ASSERT_TRUE(data) << error;
    replay::Replay altered = *data;
    altered.stream.clear();
    replay::EventReader reader(data->stream);
    replay::Event e, last;
    bool checkpoint = false;
    while (reader.Next(e)) {
        if (e.kind == replay::Event::Checkpoint) {
            if (checkpoint) replay::AppendEvent(altered.stream, last);
            last = e, checkpoint = true;
            continue;
        }
        if (checkpoint) replay::AppendEvent(altered.stream, last), checkpoint = false;
        replay::AppendEvent(altered.stream, e);
    }
    ASSERT_TRUE(checkpoint);  // the stream ends with the last state's hash
    last.hash ^= 1;
    replay::AppendEvent(altered.stream, last);
    ASSERT_TRUE(replay::SaveReplay(file, altered, error)) << error;

    BoxCatcher boxes;
    w.form->StartWatching(file);
    Tap(&w.form->DXDraw(), Qt::Key_F);
    QElapsedTimer waited;
    waited.start();
    while (boxes.told.isEmpty() && waited.elapsed() < 10000) QApplication::processEvents();
    ASSERT_EQ(boxes.told.size(), 1);
    EXPECT_EQ(boxes.told[0].toStdString(), "watched.kdr: the replay parts from the game at tick " +
                                               std::to_string(data->header.ticks));
    EXPECT_EQ(w.form->windowTitle(), " Kordavel");
    EXPECT_EQ(w.form->ExitCode(), runner::kExitReplay);
}

// A replay as long as a replay may be, nearly all of it one idle run of ticks: skipping ahead
// plays it unseen far faster than ×4, yet every turn of the window's event loop stays short, the
// overlay tells how far it has come, and Esc ends the watching at once. A minute's skip returns
// to watching.
TEST(Overlay, SkippingThroughAHugeIdleReplayKeepsTheWindowAnswering) {
    Window w(recording::Keep::GamesAndRun);
    const std::string file = SaveOnePlayerGame(w, 30);
    std::string error;
    auto data = replay::LoadReplay(file, error);
    ASSERT_TRUE(data) << error;
    replay::Event idle;
    idle.kind = replay::Event::Ticks;
    idle.a = replay::kMaxTicks - data->header.ticks;
    replay::AppendEvent(data->stream, idle);
    data->header.ticks = replay::kMaxTicks;
    ASSERT_TRUE(replay::SaveReplay(file, *data, error)) << error;
    ASSERT_TRUE(replay::LoadReplay(file, error)) << error;

    BoxCatcher boxes;  // a replay that parted would be told in a box: it fails the test, not hangs
    app::DrawSurface& surface = w.form->DXDraw();
    const QString skipping = QString::fromStdString(*ui::CaptionFor("OverlayReplaySkip", 0));
    w.form->StartWatching(file);
    Tap(&surface, Qt::Key_Right);
    ASSERT_EQ(surface.Overlay().size(), 1);
    EXPECT_EQ(surface.Overlay()[0].toStdString(),
              skipping.toStdString() + " " + ui::LengthText(0) + " / " +
                  ui::LengthText(60'000 / kdv::kTimerInterval));
    QElapsedTimer waited;
    waited.start();
    while (!surface.Overlay().isEmpty() && waited.elapsed() < 10000) QApplication::processEvents();
    EXPECT_TRUE(surface.Overlay().isEmpty());  // the minute is reached: watching again

    Tap(&surface, Qt::Key_End);
    waited.restart();
    qint64 longestTurn = 0;
    while (waited.elapsed() < 1000) {
        QElapsedTimer turn;
        turn.start();
        QApplication::processEvents();
        longestTurn = std::max(longestTurn, turn.elapsed());
    }
    const double wallSeconds = waited.elapsed() / 1000.0;
    // A skip played in one go would hold the window for minutes; a loaded machine (the
    // sanitizer build beside other tests) may stretch one slice a little.
    EXPECT_LT(longestTurn, 500);
    ASSERT_EQ(surface.Overlay().size(), 1);
    const QString shown = surface.Overlay()[0];
    ASSERT_TRUE(shown.startsWith(skipping)) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(" / " + QString::fromStdString(ui::LengthText(replay::kMaxTicks))));
    // "m:ss" or "h:mm:ss" of the replay reached, beyond the minute skipped before.
    int seconds = 0;
    for (const QString& part : shown.mid(skipping.size() + 1).section(" / ", 0, 0).split(':'))
        seconds = seconds * 60 + part.toInt();
    EXPECT_GT(seconds - 60, 2 * wallSeconds) << shown.toStdString();  // well ahead of play
    Tap(&surface, Qt::Key_Escape);
    EXPECT_TRUE(surface.Overlay().isEmpty());
    EXPECT_EQ(w.form->windowTitle(), " Kordavel");
    EXPECT_TRUE(boxes.told.isEmpty()) << boxes.told.join("\n").toStdString();
}

namespace {

// The drawing area as the window has it, checking every frame it is given: what it holds at the
// mode's size, and what it paints at the widget's size, must equal a full conversion of the
// game's frame, and a full rescale of that.
struct CheckedSurface : app::DrawSurface {
    const kdv::Game* game = nullptr;
    size_t dropRun = SIZE_MAX;  // a run to lose, to show the check notices
    long checked = 0;
    std::string fault;

    void PresentRuns(const kdv::FrameChange& change) override {
        std::vector<kdv::PixelRun> runs = *change.runs;
        if (dropRun < runs.size()) runs.erase(runs.begin() + long(dropRun));
        kdv::FrameChange given = change;
        given.runs = &runs;
        DrawSurface::PresentRuns(given);
        if (!fault.empty()) return;
        ++checked;
        const QImage& view = View();
        const int scale = change.scale;
        uint32_t colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = app::ExpandPixel(game->PixelTable[size_t(i)], change.rgb565);
        for (int y = 0; y < view.height() && fault.empty(); ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(view.constScanLine(y));
            const uint8_t* frame = game->FrameScreen.Bytes().data() + kdv::kPresentOffset +
                                   (y / scale) * kdv::kScreenWidth;
            for (int x = 0; x < view.width(); ++x)
                if (row[x] != colours[frame[x / scale]]) {
                    fault = "view pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
                    break;
                }
        }
        const QImage& shown = Shown();
        // What reached the window: the picture where the frame lands, every so often.
        if (fault.empty() && checked % 25 == 0) {
            const app::PixelSpan t = app::FitFrame(view.width(), view.height(), width(), height());
            const QRect target(mapTo(window(), QPoint(t.left, t.top)),
                               QSize(t.right - t.left + 1, t.bottom - t.top + 1));
            const QImage painted = screen()->grabWindow(window()->winId()).toImage();
            if (painted.copy(target).convertToFormat(QImage::Format_RGB32) != shown)
                fault = "window pixels";
        }
        if (!fault.empty() || shown.size() == view.size()) return;
        QImage full(shown.size(), QImage::Format_RGB32);
        app::ScaleInto(reinterpret_cast<const uint32_t*>(view.constBits()),
                       size_t(view.bytesPerLine() / 4), view.width(), view.height(),
                       reinterpret_cast<uint32_t*>(full.bits()), size_t(full.bytesPerLine() / 4),
                       full.width(), full.height(), {0, 0, full.width() - 1, full.height() - 1});
        if (full != shown) fault = "scaled picture";
    }
};

// Plays the shipped game for a while into a checked surface of the given widget size; the
// first fault, or empty.
std::string PlayInto(CheckedSurface& surface, QSize size, bool small) {
    App();
    const fs::path root =
        fs::temp_directory_path() / ("kordavel-draw-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data", fs::copy_options::recursive);
    adapters::DiskFiles files(root);
    adapters::VirtualPlatform platform;
    kdv::Services services = platform.ServicesWith(files);
    services.display = &surface;
    // Below a strip, as under the menu bar: the window's pixels are checked at their offset.
    QWidget frame;
    surface.setParent(&frame);
    surface.setGeometry(0, 24, size.width(), size.height());
    frame.resize(size.width(), size.height() + 24);
    frame.show();
    QApplication::processEvents();
    struct Unparent {
        QWidget& child;
        ~Unparent() { child.setParent(nullptr); }
    } unparent{surface};
    auto game = kdv::MakeGame(services);
    surface.game = game.get();
    kdv::FormCreate(*game);
    if (!kdv::FormActivate(*game)) return "the game did not start";
    game->Settings.smallScreen = small;
    kdv::ClickMenu(*game, "MStart1Player");
    for (long tick = 0; tick < 3000 && surface.fault.empty(); ++tick) {
        // Fire and turn now and then, so that shots, walls and explosions change the picture.
        platform.input.SetKey(game->Settings.keys1[4], tick % 40 < 3);
        platform.input.SetKey(game->Settings.keys1[size_t(tick / 150 % 4)], tick % 150 < 90);
        platform.input.SetKey(game->Settings.keys1[5], tick % 200 < 2);
        kdv::DXTimerTimer(*game);
        platform.clock.now += kdv::kTimerInterval;
    }
    fs::remove_all(root);
    if (surface.fault.empty() && surface.checked < 1000) return "too few frames presented";
    return surface.fault;
}

}  // namespace

// The window converts only the runs of pixels that changed, and rescales only the rows they
// touch; over a long game that must still show exactly what converting everything would, at
// both mode sizes and at a size the picture is scaled to. Losing a single run is noticed.
TEST(DrawSurface, ShowsWhatAFullConversionWouldAtEveryPresentedFrame) {
    App();
    for (auto [size, small] : {std::pair{QSize(640, 400), false}, std::pair{QSize(320, 200), true},
                               std::pair{QSize(1000, 700), false}}) {
        SCOPED_TRACE(size.width());
        CheckedSurface surface;
        EXPECT_EQ(PlayInto(surface, size, small), "");
    }
    CheckedSurface broken;
    broken.dropRun = 0;
    EXPECT_NE(PlayInto(broken, QSize(640, 400), false), "");
}

// The window takes the focus just before its first frame; a repaint then would send the whole
// picture to the display once more, and the picture shows no focus.
TEST(DrawSurface, TakingOrLosingTheFocusRepaintsNothing) {
    Window w;
    app::DrawSurface& surface = w.form->DXDraw();
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            return (count += event->type() == QEvent::Paint, false);
        }
    } paints;
    QApplication::processEvents();
    surface.installEventFilter(&paints);
    for (auto type : {QEvent::FocusOut, QEvent::FocusIn}) {
        QFocusEvent focus(type, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(&surface, &focus);
    }
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 0);
    surface.update();  // a repaint that is asked for is seen
    QApplication::processEvents();
    EXPECT_GT(paints.count, 0);
}

namespace {

// A replay as text, an event a line, for a readable difference; the header is left out.
std::string EventLines(const replay::Replay& r) {
    std::ostringstream out;
    replay::EventReader reader(r.stream);
    replay::Event e;
    while (reader.Next(e)) {
        out << int(e.kind) << " " << e.a << " " << e.b << " " << std::hex << e.hash << std::dec;
        if (e.kind == replay::Event::Dialogs)
            out << " dialogs " << e.dialogs.position << " " << e.dialogs.gameItem << " "
                << e.dialogs.optionsOpen << " " << e.dialogs.working.gameDifficulty;
        if (e.kind == replay::Event::Settings)
            out << " settings " << e.settings.settings.gameDifficulty;
        out << "\n";
    }
    return out.str();
}

}  // namespace

// Whichever host records it, the same play gives the same replay. A game is started from the
// menu and steered with keys in the real window, a duel chosen in Select Level, the difficulty
// changed in Options and the demonstration started; each is written down as a line of the
// runner's script at the tick it happened before, and the runner plays that script with
// --record. The two files are the same bytes but for when they were made, and both play to the
// window's own state.
TEST(Recording, TheWindowAndTheRunnerRecordTheSamePlayAlike) {
    Window w(recording::Keep::GamesAndRun);
    std::ostringstream script;
    // Done after `TicksRun()` ticks in the window: the runner does it just before the next.
    auto next = [&] { return w.form->TicksRun() + 1; };
    auto advance = [&](int ticks) {
        const long until = w.form->TicksRun() + ticks;
        QElapsedTimer waited;
        waited.start();
        while (w.form->TicksRun() < until && waited.elapsed() < 5000) QApplication::processEvents();
    };
    auto key = [&](Qt::Key qtKey, bool down) {
        script << next() << " key " << app::VirtualKeyFor(qtKey, false, 0, false)
               << (down ? " down\n" : " up\n");
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, qtKey, Qt::NoModifier);
        QApplication::sendEvent(&w.form->DXDraw(), &event);
    };
    auto menu = [&](const char* item) {
        script << next() << " menu " << item << "\n";
        w.form->findChild<QAction*>(item)->trigger();
    };

    menu("MStart1Player");
    advance(3);
    key(Qt::Key_Space, true);
    advance(2);
    key(Qt::Key_Space, false);
    advance(80);
    key(Qt::Key_Left, true);
    key(Qt::Key_Control, true);
    advance(20);
    key(Qt::Key_Left, false);
    advance(5);
    key(Qt::Key_Control, false);
    key(Qt::Key_Up, true);
    advance(10);
    key(Qt::Key_Up, false);

    auto& select = w.form->SelectForm();
    Later([&] {
        select.LevelSpin().Step(1);
        select.findChildren<QRadioButton*>()[2]->setChecked(true);
        script << next() << " select " << select.LevelSpin().Position() << " 2\n";
        w.Find<QPushButton>(&select, "OkButton")->click();
    });
    menu("MSelectLevel");
    ASSERT_EQ(w.game->GameMode, kdv::gmDuel);
    advance(10);

    // The working copy opens with the dialog: the script opens it at the same tick by setting
    // what it holds already.
    const int difficulty = w.game->Settings.gameDifficulty;
    auto& options = w.form->OptionForm();
    Later([&] {
        w.Find<QSlider>(&options, "GameDiffBar")->setValue(3 - difficulty);
        script << next() << " option Options/GameDifficulty " << 3 - difficulty << "\n"
               << next() << " option ok\n";
        w.Find<QPushButton>(&options, "OkButton")->click();
    });
    script << next() << " menu MOptions\n"
           << next() << " option Options/GameDifficulty " << difficulty << "\n";
    w.form->findChild<QAction*>("MOptions")->trigger();
    ASSERT_EQ(w.game->Settings.gameDifficulty, 3 - difficulty);
    advance(10);
    menu("MDemo");
    advance(10);
    const long ticks = w.form->TicksRun();
    const replay::Replay windowed = w.recorded.Whole();
    EXPECT_NE(EventLines(windowed).find("\n2 "), std::string::npos) << "no key reached the game";

    const fs::path root = w.root / "runner";
    fs::create_directories(root);
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data", fs::copy_options::recursive);
    std::ofstream(root / "kordavel.ini") << "[Options]\nLanguage=0\n";
    std::ofstream(root / "play.txt") << script.str();
    const std::string run = std::string(KORDAVEL_BINARY) + " --root " + root.string();
    ASSERT_EQ(
        std::system((run + " --headless --ticks " + std::to_string(ticks) + " --script " +
                     (root / "play.txt").string() + " --record " + (root / "run.kdr").string())
                        .c_str()),
        0)
        << script.str();
    std::string error;
    auto ran = replay::LoadReplay((root / "run.kdr").string(), error);
    ASSERT_TRUE(ran) << error;
    EXPECT_EQ(EventLines(windowed), EventLines(*ran)) << script.str();
    ran->header.startTime = windowed.header.startTime;
    EXPECT_TRUE(replay::Encode(windowed) == replay::Encode(*ran)) << "the headers differ";

    // Both play back to the state the window's game is in.
    char want[64];
    std::snprintf(want, sizeof want, "ticks=%ld hash=%016llx\n", ticks,
                  static_cast<unsigned long long>(runner::StateHash(*w.game, ticks)));
    ASSERT_TRUE(replay::SaveReplay((root / "window.kdr").string(), windowed, error)) << error;
    for (const char* file : {"window.kdr", "run.kdr"}) {
        const fs::path out = root / "verify.txt";
        std::system(
            (run + " --replay " + (root / file).string() + " --verify >" + out.string()).c_str());
        EXPECT_EQ(testkit::ReadAll(out), want) << file;
    }
}
