#pragma once
// TAboutForm: the program's name, version and credits, over a little animated scene of a tank
// shooting holes in a wall.
#include <QDialog>
#include <QLabel>
#include <QTimer>

namespace app {

class AboutScene : public QWidget {
    Q_OBJECT
  public:
    explicit AboutScene(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {240, 72}; }
    int Step() const { return step_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QTimer timer_;
    int step_ = 0;
};

class TAboutForm : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutForm(QWidget* parent = nullptr);
    void SetLanguage(int language);

  private:
    QLabel* version_ = nullptr;
    QLabel* credits_ = nullptr;
};

}  // namespace app
