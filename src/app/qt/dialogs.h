#pragma once
// The program's dialogs besides the about box: TOptionForm (options and bindings), TInputForm
// (the key-capture dialog a binding button opens) and TSelectForm (level selection). Their
// logic is the core's dialog operations; these classes only show it.
#include <QDialog>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "core/dialogs/dialogs.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QToolButton;

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}

namespace app {

// The class a component stands for, as the language scan and the forms dump know it
// ("TButton", "TStaticText", ...), and its component name.
void Tag(QObject* object, const char* name, const char* vclClass);
QString VclClass(const QObject* object);
// exec() that reports how long the dialog took from the call to its first paint.
int ExecTimed(QDialog& dialog, const std::function<void(double ms)>& opened);

class TInputForm : public QDialog {
    Q_OBJECT
  public:
    explicit TInputForm(QWidget* parent);
    void SetGame(kdv::Game* game) { game_ = game; }
    // Shows the prompt modally; the key or joystick state taken, or nothing when the close box
    // cancelled. Keys typed here never reach the game.
    std::optional<int> Capture(const char* prompt, bool joystick);
    std::function<void(double ms)> onOpened;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void Timer1Timer();

    kdv::Game* game_ = nullptr;
    QLabel* label1_ = nullptr;
    QTimer timer1_;
    bool joystick_ = false;
    std::optional<int> value_;
    std::array<bool, 256> keysDown_{};
    bool x11ScanCodes_ = false;
};

class TOptionForm : public QDialog {
    Q_OBJECT
  public:
    explicit TOptionForm(QWidget* parent);
    // The Ok goes through the recorded game, so that a replay repeats it.
    void SetGame(recording::RecordedGame* game);
    // The key-capture dialog, asked for when a binding button is first pressed.
    void SetCapture(std::function<TInputForm&()> capture) { capture_ = std::move(capture); }
    // FormShow: fills the working copy and the controls. exec() shows it modally.
    void FormShow();
    void done(int result) override;

  private:
    struct Binding {
        QPushButton* button;
        kdv::BindingRowId row;
        int action;
    };
    void UpdateButtons();
    void BindingClick(const Binding& binding);

    recording::RecordedGame* recorded_ = nullptr;
    kdv::Game* game_ = nullptr;
    std::function<TInputForm&()> capture_;
    QTabWidget* pages_ = nullptr;
    QCheckBox* soundBox_ = nullptr;
    QGroupBox* soundGroup_ = nullptr;
    QSlider* soundBar_ = nullptr;
    QSlider* gameDiffBar_ = nullptr;
    QCheckBox* feedBackCheck_ = nullptr;
    std::vector<Binding> bindings_;
};

// An up-down spinner bound to a read-only edit: minimum, maximum, position, no wrap-around.
class TUpDown : public QWidget {
    Q_OBJECT
  public:
    TUpDown(QWidget* parent, QLineEdit* associate);
    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    int Position() const { return position_; }
    void Step(int by);
    std::function<void()> onChange;  // after every change of range or position

  private:
    void Show();
    QLineEdit* associate_;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int minimum_ = 1, maximum_ = 1, position_ = 1;
};

class TSelectForm : public QDialog {
    Q_OBJECT
  public:
    explicit TSelectForm(QWidget* parent);
    void SetGame(recording::RecordedGame* game);
    // The level file's stock records: the stages after them are marked as made in the editor.
    void SetStockRecords(std::optional<int> records) { stockRecords_ = records; }
    void FormShow();
    void SetLanguage(int language);
    void done(int result) override;
    TUpDown& LevelSpin() { return *levelSpin_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OkButtonClick();
    void ShowOwnLevels();

    recording::RecordedGame* recorded_ = nullptr;
    kdv::Game* game_ = nullptr;
    std::optional<int> stockRecords_;
    QLineEdit* levelEdit_ = nullptr;
    TUpDown* levelSpin_ = nullptr;
    std::array<QRadioButton*, 3> gameItems_{};
    QPushButton* okButton_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* ownNote_ = nullptr;
};

}  // namespace app
