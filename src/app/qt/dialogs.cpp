#include "app/qt/dialogs.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt/keymap.h"
#include "core/controls/player_controls.h"
#include "core/game.h"
#include "recording/recorded_game.h"
#include "ui/captions.h"

namespace app {

void Tag(QObject* object, const char* name, const char* vclClass) {
    object->setObjectName(name);
    object->setProperty("vclClass", vclClass);
}

QString VclClass(const QObject* object) {
    return object->property("vclClass").toString();
}

namespace {

// Notes the first paint of the window it watches.
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(std::function<void()> onPaint) : onPaint_(std::move(onPaint)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && onPaint_) {
            onPaint_();
            onPaint_ = nullptr;
        }
        return false;
    }

  private:
    std::function<void()> onPaint_;
};

}  // namespace

int ExecTimed(QDialog& dialog, const std::function<void(double ms)>& opened) {
    QElapsedTimer opening;
    opening.start();
    PaintWatch watch([&] {
        if (opened) opened(double(opening.nsecsElapsed()) / 1e6);
    });
    dialog.installEventFilter(&watch);
    const int result = dialog.exec();
    dialog.removeEventFilter(&watch);
    return result;
}

namespace {

// Stands for a component that the language scan captions by its class: a label of its own
// (TStaticText), as opposed to a plain TLabel.
QLabel* StaticText(QWidget* parent, const char* name, const char* caption) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    Tag(label, name, "TStaticText");
    return label;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    Tag(button, name, "TButton");
    button->setAutoDefault(false);
    return button;
}

const char* const kPrompts[kdv::kActions] = {"Press Up",    "Press Down", "Press Left",
                                             "Press Right", "Press Fire", "Press Start",
                                             "Press Pause"};

int LanguageOf(const kdv::Game* game) {
    return game ? game->Settings.language : 0;
}

}  // namespace

// --- TInputForm ----------------------------------------------------------------------------

TInputForm::TInputForm(QWidget* parent) : QDialog(parent) {
    Tag(this, "TInputForm", "TInputForm");
    setWindowTitle(" Keyboard");
    setModal(true);
    x11ScanCodes_ = QGuiApplication::platformName() == "xcb";
    auto* layout = new QVBoxLayout(this);
    label1_ = new QLabel(this);
    Tag(label1_, "Label1", "TLabel");
    label1_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label1_);
    // The key names, one a line for codes 1..111, as the binding buttons show them.
    auto* names = new QPlainTextEdit(this);
    Tag(names, "ButtonsNames", "TMemo");
    QStringList lines;
    for (int code = 1; code <= 111; ++code) lines << QString::fromStdString(kdv::KeyName(code));
    names->setPlainText(lines.join('\n'));
    names->hide();
    timer1_.setObjectName("Timer1");
    timer1_.setInterval(50);
    connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    setFixedSize(171, 84);
}

std::optional<int> TInputForm::Capture(const char* prompt, bool joystick) {
    label1_->setText(QString::fromStdString(ui::UiText(prompt, LanguageOf(game_))));
    joystick_ = joystick;
    value_.reset();
    keysDown_.fill(false);
    if (joystick)
        timer1_.start();
    else
        timer1_.stop();
    const int result = ExecTimed(*this, onOpened);
    timer1_.stop();
    if (result == QDialog::Rejected || !value_) return std::nullopt;
    return value_;
}

bool TInputForm::event(QEvent* event) {
    // Alt, Tab and the like are keys to capture here, not shortcuts or focus moves.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QDialog::event(event);
}

void TInputForm::keyPressEvent(QKeyEvent* event) {
    // Esc is a key like any other here: only the close box cancels.
    event->accept();
    if (event->isAutoRepeat()) return;
    const int code = VirtualKeyFor(event->key(), event->modifiers() & Qt::KeypadModifier,
                                   event->nativeScanCode(), x11ScanCodes_);
    if (code > 0 && code < 256) keysDown_[size_t(code)] = true;
}

void TInputForm::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    if (event->isAutoRepeat() || !isVisible()) return;
    // A key let go that went down before the dialog opened (the one that clicked the binding
    // button) is not a capture.
    if (std::none_of(keysDown_.begin(), keysDown_.end(), [](bool down) { return down; })) return;
    value_ = joystick_ ? (game_ ? kdv::ScanJoystick(*game_) & 0x7f : kdv::kNoJoystickState)
                       : kdv::CaptureKey(keysDown_);
    done(3);
}

void TInputForm::Timer1Timer() {
    if (!game_ || !isVisible()) return;
    const int state = kdv::ScanJoystick(*game_);
    if (state == kdv::kNoJoystickState) return;
    value_ = state & 0x7f;
    done(3);
}

// --- TOptionForm ---------------------------------------------------------------------------

void TOptionForm::SetGame(recording::RecordedGame* game) {
    recorded_ = game;
    game_ = game ? &game->Game() : nullptr;
}

TOptionForm::TOptionForm(QWidget* parent) : QDialog(parent) {
    Tag(this, "TOptionForm", "TOptionForm");
    setWindowTitle(" Kordavel Options");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    Tag(pages_, "PageControl1", "TPageControl");
    layout->addWidget(pages_);

    // General page.
    auto* general = new QWidget;
    Tag(general, "TabGeneral", "TTabSheet");
    auto* generalLayout = new QVBoxLayout(general);
    soundBox_ = new QCheckBox("Sound FX", general);
    Tag(soundBox_, "SoundBox", "TCheckBox");
    soundGroup_ = new QGroupBox("Sound", general);
    Tag(soundGroup_, "SoundGroup", "TGroupBox");
    auto* soundLayout = new QHBoxLayout(soundGroup_);
    soundLayout->addWidget(StaticText(soundGroup_, "StaticText16", "Volume"));
    soundBar_ = new QSlider(Qt::Horizontal, soundGroup_);
    Tag(soundBar_, "SoundBar", "TTrackBar");
    soundBar_->setRange(0, 20);
    soundBar_->setTickPosition(QSlider::TicksBelow);
    soundLayout->addWidget(soundBar_, 1);
    // The check box sits apart from the group it enables, so that it stays clickable.
    generalLayout->addWidget(soundBox_);
    generalLayout->addWidget(soundGroup_);
    auto* difficultyGroup = new QGroupBox("Difficulty", general);
    Tag(difficultyGroup, "DifficultyGroup", "TGroupBox");
    auto* difficultyLayout = new QVBoxLayout(difficultyGroup);
    gameDiffBar_ = new QSlider(Qt::Horizontal, difficultyGroup);
    Tag(gameDiffBar_, "GameDiffBar", "TTrackBar");
    gameDiffBar_->setRange(0, 3);
    gameDiffBar_->setPageStep(1);
    gameDiffBar_->setTickPosition(QSlider::TicksBelow);
    difficultyLayout->addWidget(gameDiffBar_);
    auto* levels = new QLabel(
        " Normal                Hard              Very Hard          Impossible", difficultyGroup);
    Tag(levels, "Label2", "TLabel");
    difficultyLayout->addWidget(levels);
    generalLayout->addWidget(difficultyGroup);
    feedBackCheck_ = new QCheckBox("ForceFeedback for Joystick/Gamepad", general);
    Tag(feedBackCheck_, "FeedBackCheck", "TCheckBox");
    generalLayout->addWidget(feedBackCheck_);
    generalLayout->addStretch(1);
    pages_->addTab(general, "General");

    // Input page: two players' rows of keyboard and joystick buttons.
    auto* input = new QWidget;
    Tag(input, "TabInput", "TTabSheet");
    auto* inputLayout = new QVBoxLayout(input);
    struct Row {
        const char* label;
        const char* key;
        const char* joy;
    };
    const Row rows1[] = {{"StaticText1", "UpButton1", "UpJButton1"},
                         {"StaticText2", "DownButton1", "DownJButton1"},
                         {"StaticText3", "LeftButton1", "LeftJButton1"},
                         {"StaticText4", "RightButton1", "RightJButton1"},
                         {"StaticText5", "FireButton1", "FireJButton1"},
                         {"StaticText12", "StartButton1", "StartJButton1"},
                         {"StaticText17", "PauseButton1", "PauseJButton1"}};
    const Row rows2[] = {{"StaticText6", "UpButton2", "UpJButton2"},
                         {"StaticText7", "DownButton2", "DownJButton2"},
                         {"StaticText8", "LeftButton2", "LeftJButton2"},
                         {"StaticText9", "RightButton2", "RightJButton2"},
                         {"StaticText10", "FireButton2", "FireJButton2"},
                         {"StaticText13", "StartButton2", "StartJButton2"}};
    const char* const actionCaptions[] = {"Up", "Down", "Left", "Right", "Fire", "Start", "Pause"};
    auto addPlayer = [&](const char* groupName, const char* title, const char* heading,
                         const Row* rows, int count, kdv::BindingRowId keys,
                         kdv::BindingRowId joys) {
        auto* group = new QGroupBox(title, input);
        Tag(group, groupName, "TGroupBox");
        auto* grid = new QGridLayout(group);
        grid->addWidget(StaticText(group, heading, "      Keyboard     Joystick"), 0, 1, 1, 2);
        for (int i = 0; i < count; ++i) {
            auto* label = StaticText(group, rows[i].label, actionCaptions[i]);
            auto* key = Button(group, rows[i].key, "");
            auto* joy = Button(group, rows[i].joy, "");
            key->setMinimumWidth(96);
            joy->setMinimumWidth(96);
            grid->addWidget(label, i + 1, 0);
            grid->addWidget(key, i + 1, 1);
            grid->addWidget(joy, i + 1, 2);
            bindings_.push_back({key, keys, i});
            bindings_.push_back({joy, joys, i});
            if (keys == kdv::rowKeys2 && i == kdv::Start) {
                // Player 2's Start is held but never read: its row stays out of sight.
                for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(key),
                                   static_cast<QWidget*>(joy)}) {
                    w->setVisible(false);
                    w->setEnabled(false);
                }
            }
        }
        inputLayout->addWidget(group);
    };
    addPlayer("GroupBox1", "Player 1", "StaticText14", rows1, 7, kdv::rowKeys1, kdv::rowJoystick1);
    addPlayer("GroupBox2", "Player 2", "StaticText15", rows2, 6, kdv::rowKeys2, kdv::rowJoystick2);
    auto* defaults = Button(input, "Button2", "Defaults");
    inputLayout->addWidget(defaults, 0, Qt::AlignRight);
    pages_->addTab(input, "Input");

    auto* bottom = new QWidget(this);
    Tag(bottom, "Panel1", "TPanel");
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->addStretch(1);
    auto* ok = Button(bottom, "OkButton", "Ok");
    auto* cancel = Button(bottom, "CancelButton", "Cancel");
    bottomLayout->addWidget(ok);
    bottomLayout->addWidget(cancel);
    layout->addWidget(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(soundBox_, &QCheckBox::toggled, this, [this](bool ticked) {
        soundGroup_->setEnabled(ticked);
        if (game_) kdv::SoundBoxClick(*game_, ticked);
    });
    connect(soundBar_, &QSlider::valueChanged, this, [this](int position) {
        if (game_) kdv::SoundBarChange(*game_, position);
    });
    connect(gameDiffBar_, &QSlider::valueChanged, this, [this](int position) {
        if (game_) kdv::GameDiffBarChange(*game_, position);
    });
    connect(feedBackCheck_, &QCheckBox::toggled, this, [this](bool ticked) {
        if (game_) kdv::FeedBackCheckClick(*game_, ticked);
    });
    for (const Binding& binding : bindings_)
        connect(binding.button, &QPushButton::clicked, this,
                [this, binding] { BindingClick(binding); });
    connect(defaults, &QPushButton::clicked, this, [this] {
        if (!game_) return;
        kdv::DefaultsClick(*game_);
        UpdateButtons();
    });
    connect(ok, &QPushButton::clicked, this, [this] {
        if (recorded_) recorded_->OptionsOk();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TOptionForm::FormShow() {
    if (!game_) return;
    kdv::OptionFormShow(*game_);
    const kdv::Settings& w = game_->OptionsEdit.working;
    // Showing the values must not write them back: a volume of 53 stays 53 until the bar moves.
    const QSignalBlocker b1(soundBox_), b2(soundBar_), b3(gameDiffBar_), b4(feedBackCheck_);
    soundBox_->setChecked(w.soundEnable);
    soundGroup_->setEnabled(w.soundEnable);
    soundBar_->setValue(kdv::SoundBarPosition(w.soundVolume));
    gameDiffBar_->setValue(kdv::GameDiffBarPosition(w.gameDifficulty));
    feedBackCheck_->setChecked(w.forceFeedback);
    UpdateButtons();
    pages_->setCurrentIndex(0);
}

void TOptionForm::done(int result) {
    // Cancel and the close box drop the working copy; Ok has already copied it back.
    if (game_ && game_->OptionsEdit.open) kdv::OptionCancelClick(*game_);
    QDialog::done(result);
}

void TOptionForm::UpdateButtons() {
    if (!game_) return;
    kdv::Settings& w = game_->OptionsEdit.working;
    for (const Binding& b : bindings_) {
        if (b.button->isHidden()) continue;
        const int32_t code = kdv::RowOf(w, b.row)[size_t(b.action)];
        b.button->setText(QString::fromStdString(kdv::IsJoystickRow(b.row) ? kdv::JoystickName(code)
                                                                           : kdv::KeyName(code)));
    }
}

void TOptionForm::BindingClick(const Binding& binding) {
    if (!game_ || !capture_) return;
    const auto value =
        capture_().Capture(kPrompts[binding.action], kdv::IsJoystickRow(binding.row));
    if (!value) return;
    kdv::SetBinding(*game_, binding.row, binding.action, *value);
    UpdateButtons();
}

// --- TUpDown and TSelectForm ---------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent, QLineEdit* associate) : QWidget(parent), associate_(associate) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFixedSize(18, 12);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    Show();
}

void TUpDown::SetPosition(int position) {
    position_ = position;
    Show();
}

void TUpDown::Step(int by) {
    if (maximum_ < minimum_) return;
    position_ = std::clamp(position_ + by, minimum_, maximum_);  // no wrap-around
    Show();
}

void TUpDown::Show() {
    const bool valid = maximum_ >= minimum_;
    associate_->setText(valid ? QString::number(position_) : QString());
    up_->setEnabled(valid && position_ < maximum_);
    down_->setEnabled(valid && position_ > minimum_);
    if (onChange) onChange();
}

void TSelectForm::SetGame(recording::RecordedGame* game) {
    recorded_ = game;
    game_ = game ? &game->Game() : nullptr;
}

TSelectForm::TSelectForm(QWidget* parent) : QDialog(parent) {
    Tag(this, "TSelectForm", "TSelectForm");
    setWindowTitle(" Select Level");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* levelRow = new QHBoxLayout;
    levelRow->addWidget(StaticText(this, "StaticText1", "Level:"));
    levelEdit_ = new QLineEdit("1", this);
    Tag(levelEdit_, "LevelEdit", "TEdit");
    levelEdit_->setReadOnly(true);
    levelEdit_->setFixedWidth(56);
    levelEdit_->installEventFilter(this);
    levelSpin_ = new TUpDown(this, levelEdit_);
    Tag(levelSpin_, "LevelSpin", "TUpDown");
    levelSpin_->SetRange(1, 1);
    levelSpin_->SetPosition(1);
    levelRow->addWidget(levelEdit_);
    levelRow->addWidget(levelSpin_);
    levelRow->addStretch(1);
    layout->addLayout(levelRow);
    note_ = new QLabel(this);
    Tag(note_, "NoLevelsNote", "TLabel");
    note_->setWordWrap(true);
    note_->hide();
    layout->addWidget(note_);
    ownNote_ = new QLabel(this);
    Tag(ownNote_, "OwnLevelsNote", "TLabel");
    ownNote_->setWordWrap(true);
    ownNote_->hide();
    layout->addWidget(ownNote_);
    levelSpin_->onChange = [this] { ShowOwnLevels(); };
    auto* radio = new QGroupBox("Game", this);
    Tag(radio, "GameRadio", "TRadioGroup");
    auto* radioLayout = new QVBoxLayout(radio);
    const char* const items[] = {"Start 1 Player", "Start 2 Player", "Start Duel"};
    for (int i = 0; i < 3; ++i) {
        gameItems_[size_t(i)] = new QRadioButton(items[i], radio);
        radioLayout->addWidget(gameItems_[size_t(i)]);
    }
    gameItems_[0]->setChecked(true);
    layout->addWidget(radio);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    okButton_ = Button(this, "OkButton", "Ok");
    okButton_->setDefault(true);
    auto* cancel = Button(this, "CancelButton", "Cancel");
    buttons->addWidget(okButton_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    setFixedSize(163, 245);
    connect(okButton_, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TSelectForm::eventFilter(QObject* watched, QEvent* event) {
    // The arrow keys in the edit step the spinner, as they would an up-down's buddy.
    if (watched == levelEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            levelSpin_->Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TSelectForm::FormShow() {
    if (!game_) return;
    const kdv::SelectLevelView view = kdv::SelectFormShow(*game_);
    levelSpin_->SetRange(view.minimum, view.maximum);
    levelSpin_->SetPosition(view.position);
    gameItems_[size_t(std::clamp(view.gameItem, 0, 2))]->setChecked(true);
    okButton_->setEnabled(view.okEnabled);
    note_->setVisible(!view.okEnabled);
    SetLanguage(game_->Settings.language);
}

void TSelectForm::done(int result) {
    // The spinner and the radio choice are kept between openings, whichever way it closed.
    if (game_) {
        if (levelEdit_->text().size() > 0) game_->SelectLevel.position = levelSpin_->Position();
        for (int i = 0; i < 3; ++i)
            if (gameItems_[size_t(i)]->isChecked()) game_->SelectLevel.gameItem = i;
    }
    QDialog::done(result);
}

void TSelectForm::SetLanguage(int language) {
    setWindowTitle(QString::fromStdString(" " + ui::UiText("Select Level", language)));
    note_->setText(QString::fromStdString(ui::UiText("The level file holds no stage.", language)));
    ShowOwnLevels();
}

// The stages past the stock ones were made in the editor: the note says which, and marks the
// one shown when it is one of them.
void TSelectForm::ShowOwnLevels() {
    if (!ownNote_) return;
    const int last = game_ ? int(uint16_t(game_->LevelCount)) : 0;
    const int first = stockRecords_.value_or(0);
    if (!stockRecords_ || first < 1 || last < first) {
        ownNote_->hide();
        return;
    }
    std::string text =
        ui::UiText("Made in the editor:", LanguageOf(game_)) + " " + std::to_string(first);
    if (last > first) text += "–" + std::to_string(last);
    const int shown = levelSpin_->Position();
    if (shown >= first && shown <= last) text = "★ " + text;
    ownNote_->setText(QString::fromStdString(text));
    ownNote_->show();
}

void TSelectForm::OkButtonClick() {
    if (!game_) return;
    int item = 0;
    for (int i = 0; i < 3; ++i)
        if (gameItems_[size_t(i)]->isChecked()) item = i;
    // The choice is kept between openings even if the stage cannot start.
    if (recorded_->SelectOk(levelSpin_->Position(), item)) return;
    accept();
}

}  // namespace app
