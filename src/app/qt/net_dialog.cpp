#include "app/qt/net_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <chrono>

#include "discovery/discovery.h"
#include "ui/captions.h"

namespace app {
namespace {

// Answers are read this often while the join side is shown, and the question asked again every
// so many reads; a game not heard for a while is dropped from the list.
constexpr int kListenMs = 100;
constexpr int kAskEvery = 20;
constexpr auto kForgetAfter = std::chrono::milliseconds(6000);

}  // namespace

NetDialog::NetDialog(QWidget* parent, int language, int levelCount, int port,
                     const net::Identity& mine, bool discovery, std::string rejoinAddress)
    : QDialog(parent),
      language_(language),
      mine_(mine),
      discovery_(discovery),
      rejoinAddress_(std::move(rejoinAddress)) {
    setObjectName("TNetForm");
    auto text = [language](const char* name, const char* fallback) {
        return QString::fromStdString(ui::CaptionFor(name, language).value_or(fallback));
    };
    QString title = text("MNetworkGame", "Network Game");
    if (title.endsWith(QChar(0x2026))) title.chop(1);
    setWindowTitle(title);

    host_ = new QRadioButton(text("NetHost", "Host a game"), this);
    host_->setObjectName("NetHost");
    join_ = new QRadioButton(text("NetJoin", "Join a game"), this);
    join_->setObjectName("NetJoin");
    watch_ = new QRadioButton(text("NetWatch", "Watch a game"), this);
    watch_->setObjectName("NetWatch");
    // The game this player dropped out of, when its seat is still kept: chosen at once.
    rejoin_ = new QRadioButton(text("NetRejoin", "Rejoin the game you dropped out of") + " (" +
                                   QString::fromStdString(rejoinAddress_) + ")",
                               this);
    rejoin_->setObjectName("NetRejoin");
    rejoin_->setVisible(!rejoinAddress_.empty());
    (rejoinAddress_.empty() ? host_ : rejoin_)->setChecked(true);
    address_ = new QLineEdit("127.0.0.1", this);
    address_->setObjectName("NetAddressEdit");
    address_->setPlaceholderText(text("NetAddressHint", "address, or address and code"));
    port_ = new QSpinBox(this);
    port_->setObjectName("NetPortEdit");
    port_->setRange(1, 65535);
    port_->setValue(port);
    mode_ = new QComboBox(this);
    mode_->setObjectName("NetModeBox");
    mode_->addItem(text("NetTwoPlayers", "Two players"), 2);
    mode_->addItem(text("NetDuel", "Duel"), 3);
    stage_ = new QSpinBox(this);
    stage_->setObjectName("NetStageEdit");
    stage_->setRange(1, std::max(1, levelCount));
    gamesLabel_ = new QLabel(text("NetGamesHere", "Games on this network:"), this);
    gamesLabel_->setObjectName("NetGamesLabel");
    games_ = new QListWidget(this);
    games_->setObjectName("NetGamesList");
    games_->setMinimumHeight(96);

    auto* form = new QFormLayout;
    form->addRow(host_);
    form->addRow(join_);
    form->addRow(watch_);
    form->addRow(rejoin_);
    form->addRow(text("NetAddress", "Address:"), address_);
    form->addRow(text("NetPort", "Port:"), port_);
    form->addRow(text("NetMode", "Game:"), mode_);
    form->addRow(text("NetStage", "Stage:"), stage_);
    form->addRow(gamesLabel_);
    form->addRow(games_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("NetOkButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("CancelButton");
    buttons->button(QDialogButtonBox::Cancel)->setText(text("CancelButton", "Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(host_, &QRadioButton::toggled, this, [this] { Follow(); });
    connect(rejoin_, &QRadioButton::toggled, this, [this] { Follow(); });
    connect(watch_, &QRadioButton::toggled, this, [this] { Follow(); });
    connect(games_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { Chosen(item); });
    listen_.setInterval(kListenMs);
    connect(&listen_, &QTimer::timeout, this, [this] { Listen(); });
    Follow();
}

NetDialog::~NetDialog() = default;

// The host chooses the game; the joiner (or spectator) where to find it, and hears the games
// nearby only while it looks for one; a rejoin goes back where the kept seat says.
void NetDialog::Follow() {
    const bool hosting = host_->isChecked(), rejoining = rejoin_->isChecked();
    const bool looking = join_->isChecked() || watch_->isChecked();
    address_->setEnabled(!hosting && !rejoining);
    port_->setEnabled(!rejoining);
    mode_->setEnabled(hosting);
    stage_->setEnabled(hosting);
    gamesLabel_->setVisible(looking && discovery_);
    games_->setVisible(looking && discovery_);
    if (!looking || !discovery_) {
        listen_.stop();
        finder_.reset();
        games_->clear();
        return;
    }
    if (!finder_) {
        std::string error;
        finder_ = discovery::Finder::Open(error);
        if (!finder_) {
            gamesLabel_->setText(QString::fromStdString(ui::MessageText(error, language_)));
            return;
        }
        polls_ = 0;
    }
    listen_.start();
    Listen();
}

void NetDialog::Listen() {
    if (!finder_) return;
    if (polls_++ % kAskEvery == 0) finder_->Ask();
    finder_->Poll(0);
    finder_->Forget(kForgetAfter);
    // The list is rebuilt only when what it shows changes, so that a selection stays put.
    QStringList shown;
    for (const discovery::Found& f : finder_->Games())
        shown << QString::fromStdString(discovery::Line(f, mine_));
    QStringList now;
    for (int i = 0; i < games_->count(); ++i)
        now << games_->item(i)->data(Qt::UserRole + 1).toString();
    if (shown == now) return;
    games_->clear();
    for (const discovery::Found& f : finder_->Games()) {
        const discovery::Listing& l = f.listing;
        const std::string why = discovery::Unjoinable(l, mine_);
        std::string label =
            l.name + " — " +
            (l.mode == 3 ? ui::CaptionFor("NetDuel", language_).value_or("Duel")
                         : ui::CaptionFor("NetTwoPlayers", language_).value_or("Two players")) +
            ", " + ui::UiText("Stage", language_) + " " + std::to_string(l.stage) + " — " + f.address;
        if (!l.seatFree) label += " (" + ui::UiText("playing", language_) + ")";
        if (!why.empty()) label += " — " + ui::MessageText(why, language_);
        auto* item = new QListWidgetItem(QString::fromStdString(label), games_);
        item->setData(Qt::UserRole, QString::fromStdString(f.address));
        item->setData(Qt::UserRole + 1, QString::fromStdString(discovery::Line(f, mine_)));
        // Another build, or other data files: shown, greyed, with the reason, never joined.
        if (!why.empty())
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    }
}

void NetDialog::Chosen(QListWidgetItem* item) {
    if (!item || !(item->flags() & Qt::ItemIsEnabled)) return;
    const QString address = item->data(Qt::UserRole).toString();
    const int colon = address.lastIndexOf(':');
    address_->setText(address.left(colon));
    port_->setValue(address.mid(colon + 1).toInt());
    accept();
}

bool NetDialog::Hosting() const {
    return host_->isChecked();
}

bool NetDialog::Watching() const {
    return watch_->isChecked();
}

std::string NetDialog::Address() const {
    const std::string port = std::to_string(port_->value());
    if (Hosting()) return port;
    // The seat kept for that address makes the join a rejoin, with the code given then.
    if (rejoin_->isChecked()) return rejoinAddress_;
    // "HOST:PORT", with the code after it, or the line the host was shown, as typed; a bare
    // "HOST [CODE]" takes the port from its field.
    const std::string typed = address_->text().simplified().toStdString();
    if (typed.find(':') != std::string::npos) return typed;
    const size_t space = typed.find(' ');
    return typed.substr(0, space) + ":" + port +
           (space == std::string::npos ? "" : typed.substr(space));
}

int NetDialog::Port() const {
    return port_->value();
}

int NetDialog::Mode() const {
    return mode_->currentData().toInt();
}

int NetDialog::Stage() const {
    return stage_->value();
}

}  // namespace app
