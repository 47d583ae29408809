#include "app/qt/run_windowed.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <latch>
#include <string>
#include <thread>
#include <utility>

#include "app/qt/draw_surface.h"
#include "app/qt/main_window.h"
#include "app/qt/warm_heap.h"
#include "app/runner/script.h"
#include "app/sdl/mixer_sound.h"
#include "app/sdl/sdl_input.h"
#include "core/game.h"
#include "recording/recorded_game.h"
#include "replay/library.h"

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace {

// Milliseconds since the program started.
class SteadyClock : public kdv::Clock {
  public:
    uint32_t TickCount() override {
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count());
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The game's messages also go to standard error, where a player who started the game from a
// terminal, or a script, reads them: a start-up message closes the program with its box.
class EchoingWindow : public kdv::Window {
  public:
    explicit EchoingWindow(kdv::Window& window) : window_(window) {}
    void ShowMessage(const std::string& text) override {
        std::cerr << "kordavel: " << text << "\n";
        window_.ShowMessage(text);
    }
    void Close() override { window_.Close(); }
    void Fail(const std::string& text) override { window_.Fail(text); }
    void ApplyMode(int width, int height, bool fullScreen) override {
        window_.ApplyMode(width, height, fullScreen);
    }
    void ToggleFullScreen() override { window_.ToggleFullScreen(); }
    bool IsFullScreen() const override { return window_.IsFullScreen(); }
    void SetTimerEnabled(bool enabled) override { window_.SetTimerEnabled(enabled); }
    void SetPaletteChecked(bool checked) override { window_.SetPaletteChecked(checked); }
    void SetLanguageChecked(int language) override { window_.SetLanguageChecked(language); }
    void ShowOptions() override { window_.ShowOptions(); }
    void ShowAbout() override { window_.ShowAbout(); }
    void ShowSelectLevel() override { window_.ShowSelectLevel(); }
    void LevelSaved(int stage) override { window_.LevelSaved(stage); }

  private:
    kdv::Window& window_;
};

// Runs an action once the window has painted its first game frame (seen at the paint after
// which the surface has one), or after a second without one (a window shown minimised).
class AfterFirstFrame : public QObject {
  public:
    AfterFirstFrame(app::DrawSurface& surface, std::function<void()> action)
        : surface_(surface), action_(std::move(action)) {
        surface_.installEventFilter(this);
        QTimer::singleShot(1000, this, [this] { Run(); });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &surface_ && event->type() == QEvent::Paint && action_)
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (surface_.FirstPainted() != std::chrono::steady_clock::time_point{}) Run();
                },
                Qt::QueuedConnection);
        return false;
    }

  private:
    void Run() {
        if (!action_) return;
        surface_.removeEventFilter(this);
        std::exchange(action_, nullptr)();
    }

    app::DrawSurface& surface_;
    std::function<void()> action_;
};

// About what the main thread allocates before the first frame: Qt's window and its buffers, the
// picture at 640 x 400 and the data files.
constexpr size_t kWarmHeapBytes = size_t(6) << 20;

constexpr const char* kNoDisplay = "there is no display to open the window on";
constexpr const char* kHeadlessHint = "; --headless plays without one";

// Qt ends the program with abort() when it cannot reach the display. It is a start-up failure
// like a missing data file: said plainly, with the start-up exit code.
void QtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::cerr << message.toStdString() << "\n"
                  << "kordavel: " << kNoDisplay << kHeadlessHint << std::endl;
        std::_Exit(runner::kExitStartup);
    }
    std::cerr << qFormatLogMessage(type, context, message).toStdString() << "\n";
}

bool Unset(const char* name) {
    const char* value = std::getenv(name);
    return !value || !*value;
}

// Without a session bus in the environment, D-Bus looks for the user's bus socket and then tries
// to start a bus of its own with dbus-launch. Where that program is missing the attempt can only
// fail, after a fork and a search of the PATH, and the window's first show waits for it (Qt's
// accessibility asks the session bus). Naming no bus then spares the attempt and changes nothing
// else. Called before any thread starts, since it sets the environment.
void SkipHopelessBusLaunch() {
    if (!Unset("DBUS_SESSION_BUS_ADDRESS")) return;
    std::error_code ec;
    if (!Unset("XDG_RUNTIME_DIR") &&
        std::filesystem::exists(std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "bus", ec))
        return;
    std::string dirs = "/usr/bin:";
    dirs += Unset("PATH") ? "/bin:/usr/bin" : std::getenv("PATH");
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && ::access((dir + "/dbus-launch").c_str(), X_OK) == 0) return;
        start = end + 1;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
}

}  // namespace

int RunWindowed(const runner::CommandLine& options, const app::GamePaths& paths, int argc,
                char** argv) {
    const auto started = std::chrono::steady_clock::now();
    runner::Script script;
    if (!options.script.empty()) {
        try {
            script = runner::LoadScript(options.script);
        } catch (const runner::ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            return runner::kExitUsage;
        }
    }
    runner::ScriptPlayer player(std::move(script));
    if (!options.replay.empty() && player.HasInputs()) {
        std::cerr << "kordavel: " << options.script
                  << ": a replay takes its input from the file; the script may hold only dump "
                     "and screen lines\n";
        return runner::kExitUsage;
    }

    // Without a platform chosen Qt asks the X server or the Wayland compositor named here.
    if (Unset("QT_QPA_PLATFORM") && Unset("DISPLAY") && Unset("WAYLAND_DISPLAY")) {
        std::cerr << "kordavel: " << kNoDisplay << " (DISPLAY is not set)" << kHeadlessHint << "\n";
        return runner::kExitStartup;
    }
    SkipHopelessBusLaunch();
    // This sets the environment, so it comes before the font thread, which reads it.
    app::PreferPlainImageRequests();
    std::jthread heapPages = app::WarmHeap(kWarmHeapBytes);
    // Qt's first font (the menu bar's, when the window takes its size) waits for fontconfig to
    // read its configuration, some sixty files, and its caches: 4-9 ms of the main thread's
    // time. A thread does that while Qt loads its window system and connects to the display;
    // fontconfig's start is safe from any thread, and Qt's own call then finds it done. Once
    // Qt is up, the same thread has Qt list the fonts and find the fallbacks of the window's
    // font (kept for every thread; Qt's font database is thread-safe) while the menus are made.
    std::latch qtUp(1);
    std::jthread fontConfig([&qtUp] {
        FcInit();
        qtUp.wait();
        QFontMetrics(QGuiApplication::font()).height();
    });
    int qtArgc = argc;
    // The menu bar stays in the window, where full screen shows it at the top edge and F10
    // opens it; a desktop's global menu is not offered (and its session bus is not asked).
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    const QtMessageHandler qtDefault = qInstallMessageHandler(QtMessages);
    QApplication application(qtArgc, argv);
    qtUp.count_down();
    qInstallMessageHandler(qtDefault);
    QApplication::setApplicationName("Kordavel");
    QApplication::setApplicationVersion(KORDAVEL_VERSION);
    // Names the menu entry, so that desktops show its icon for the window.
    QGuiApplication::setDesktopFileName("org.kordavel.Kordavel");
    // The window decides when the program ends (after its close handler has run).
    QApplication::setQuitOnLastWindowClosed(false);

    const auto files = app::GameFiles(paths);
    SteadyClock clock;
    app::SdlInput input(false);
    input.SetIdlePollInterval(8);  // a joystick plugged in is taken within about 0.1 s
    app::MixerSound sound;
    app::TForm1 form(input);
    // The first frame waits neither for the joystick probe nor for the audio probe (nor for
    // loading SDL_mixer and converting the sound bank): their threads start once it is shown,
    // so that on a busy machine they do not take the processor from it. The game counts the
    // sound device as opening meanwhile; no sound is played on the title screen.
    sound.OpenLater();
    AfterFirstFrame devices(form.DXDraw(), [&] {
        input.OpenInBackground();
        sound.OpenInBackground();
    });

    kdv::Services services;
    // The whole run is kept in memory only when it is to be written (--record); otherwise only
    // the game in progress.
    recording::RecordedGame recorded(options.record.empty() ? recording::Keep::Games
                                                            : recording::Keep::GamesAndRun);
    replay::CleanPartFiles(paths.replayDir);
    services.display = &form.DXDraw();
    services.sound = &sound;
    services.input = &input;
    services.clock = &clock;
    services.files = files.get();
    EchoingWindow window(form);
    services.window = &window;
    auto game = recorded.Make(services);

    const bool scripted = !options.script.empty();
    form.KeepReplays(paths.replayDir, options.record);
    form.SetStockLevels(app::StockLevelRecords(paths));
    if (!options.replay.empty()) {
        form.Attach(recorded, nullptr, options.ticks);
        form.WatchAtStart(options.replay, scripted ? &player : nullptr);
    } else {
        form.Attach(recorded, scripted ? &player : nullptr, options.ticks);
    }
    form.SetFrameStats(options.frameStats, started);
    if (!options.host.empty() || !options.join.empty() || !options.watch.empty())
        form.NetworkAtStart(options);
    fontConfig.join();
    form.Start();
    QApplication::exec();
    if (options.frameStats) std::cout << "sound: voices=" << sound.VoicesStarted() << std::endl;
    int exitCode = form.ExitCode();
    // A save the player was told of that failed: the run did not do all it was asked.
    if (exitCode == runner::kExitOk && game->FailedSaves > 0) exitCode = runner::kExitStartup;
    if (exitCode == runner::kExitOk) {
        // Outputs the script asked for but the run never reached are reported, not dropped.
        const long reached = options.replay.empty() ? form.TicksRun() : form.WatchTicksRun();
        for (const std::string& line : player.OutputsAfter(reached)) {
            std::cerr << "kordavel: " << options.script << ": " << line << "\n";
            exitCode = runner::kExitStartup;
        }
    }
    return exitCode;
}
