#include "app/qt/net_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/captions.h"

namespace app {
namespace {

constexpr int kDefaultPort = 7510;

}  // namespace

NetDialog::NetDialog(QWidget* parent, int language, int levelCount) : QDialog(parent) {
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
    host_->setChecked(true);
    address_ = new QLineEdit("127.0.0.1", this);
    address_->setObjectName("NetAddressEdit");
    port_ = new QSpinBox(this);
    port_->setObjectName("NetPortEdit");
    port_->setRange(1, 65535);
    port_->setValue(kDefaultPort);
    mode_ = new QComboBox(this);
    mode_->setObjectName("NetModeBox");
    mode_->addItem(text("NetTwoPlayers", "Two players"), 2);
    mode_->addItem(text("NetDuel", "Duel"), 3);
    stage_ = new QSpinBox(this);
    stage_->setObjectName("NetStageEdit");
    stage_->setRange(1, std::max(1, levelCount));

    auto* form = new QFormLayout;
    form->addRow(host_);
    form->addRow(join_);
    form->addRow(text("NetAddress", "Address:"), address_);
    form->addRow(text("NetPort", "Port:"), port_);
    form->addRow(text("NetMode", "Game:"), mode_);
    form->addRow(text("NetStage", "Stage:"), stage_);
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
    Follow();
}

// The host chooses the game; the joiner only where to find it.
void NetDialog::Follow() {
    const bool hosting = host_->isChecked();
    address_->setEnabled(!hosting);
    mode_->setEnabled(hosting);
    stage_->setEnabled(hosting);
}

bool NetDialog::Hosting() const {
    return host_->isChecked();
}

std::string NetDialog::Address() const {
    const std::string port = std::to_string(port_->value());
    if (Hosting()) return port;
    return address_->text().trimmed().toStdString() + ":" + port;
}

int NetDialog::Mode() const {
    return mode_->currentData().toInt();
}

int NetDialog::Stage() const {
    return stage_->value();
}

}  // namespace app
