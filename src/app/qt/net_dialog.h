#pragma once
// File -> Network Game: host a game (a port, the mode and the starting stage), join one or watch
// one (an address, with the host's invite code when it is outside this network). The join and
// watch sides list the games hosted on the local network, heard while they are shown; a
// double-click joins or watches one.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "net/protocol.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QRadioButton;
class QSpinBox;

namespace discovery {
class Finder;
}

namespace app {

class NetDialog : public QDialog {
    Q_OBJECT
  public:
    // port: the one used last; mine: this program's identity, to grey games it cannot join;
    // discovery: whether to look for games on the local network at all; rejoinAddress: the
    // host of a game this player dropped out of and may go back into (empty: none).
    NetDialog(QWidget* parent, int language, int levelCount, int port, const net::Identity& mine,
              bool discovery, std::string rejoinAddress = {});
    ~NetDialog() override;

    bool Hosting() const;
    // To watch the game at Address() rather than join it.
    bool Watching() const;
    // To join: "HOST:PORT", or "HOST:PORT CODE" when a code was given; to host: "PORT".
    std::string Address() const;
    int Port() const;
    int Mode() const;  // 2 two players, 3 duel
    int Stage() const;

  private:
    void Follow();
    void Listen();
    void Chosen(QListWidgetItem* item);

    int language_;
    net::Identity mine_;
    bool discovery_;
    QRadioButton* host_ = nullptr;
    QRadioButton* join_ = nullptr;
    QRadioButton* watch_ = nullptr;
    QRadioButton* rejoin_ = nullptr;
    std::string rejoinAddress_;
    QLineEdit* address_ = nullptr;
    QSpinBox* port_ = nullptr;
    QComboBox* mode_ = nullptr;
    QSpinBox* stage_ = nullptr;
    QLabel* gamesLabel_ = nullptr;
    QListWidget* games_ = nullptr;
    QTimer listen_;
    std::unique_ptr<discovery::Finder> finder_;
    int polls_ = 0;
};

}  // namespace app
