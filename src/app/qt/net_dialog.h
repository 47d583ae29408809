#pragma once
// File -> Network Game: host a game (a port, the mode and the starting stage) or join one (an
// address and a port).
#include <QDialog>
#include <string>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace app {

class NetDialog : public QDialog {
    Q_OBJECT
  public:
    NetDialog(QWidget* parent, int language, int levelCount);

    bool Hosting() const;
    std::string Address() const;  // "HOST:PORT" to join, "PORT" to host
    int Mode() const;             // 2 two players, 3 duel
    int Stage() const;

  private:
    void Follow();

    QRadioButton* host_ = nullptr;
    QRadioButton* join_ = nullptr;
    QLineEdit* address_ = nullptr;
    QSpinBox* port_ = nullptr;
    QComboBox* mode_ = nullptr;
    QSpinBox* stage_ = nullptr;
};

}  // namespace app
