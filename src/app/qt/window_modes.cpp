// The window's display modes: 320 x 200 or 640 x 400, in a window or full screen.
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include "app/qt/draw_surface.h"
#include "app/qt/main_window.h"

namespace app {

void TForm1::ApplyMode(int width, int height, bool fullScreen) {
    const bool resized = mode_ != QSize(width, height);
    mode_ = QSize(width, height);
    if (fullScreen) {
        if (!fullScreen_) EnterFullScreen();
        // The window will come back at the new size: centred, not at its old place.
        if (resized) centreOnLeave_ = true;
        dxDraw_->update();
        return;
    }
    if (fullScreen_) LeaveFullScreen();
    SizeToMode();
    CentreOnScreen();
}

void TForm1::ToggleFullScreen() {
    if (fullScreen_)
        LeaveFullScreen();
    else
        EnterFullScreen();
}

void TForm1::EnterFullScreen() {
    fullScreen_ = true;
    savedPos_ = pos();
    centreOnLeave_ = false;
    menuBar()->hide();
    menuBar()->setCursor(Qt::ArrowCursor);
    // Options and About are not offered in full screen; the rest of the menu is.
    UpdateMenuItems();
    aboutItem_->setEnabled(false);
    setCursor(Qt::BlankCursor);
    dxDraw_->setCursor(Qt::BlankCursor);
    dxDraw_->setMinimumSize(0, 0);
    dxDraw_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    showFullScreen();
    // Without a window manager nothing honours the full-screen state: cover the screen here.
    if (QScreen* screen = this->screen()) setGeometry(screen->geometry());
    dxDraw_->setFocus();
}

void TForm1::LeaveFullScreen() {
    fullScreen_ = false;
    showNormal();
    menuBar()->show();
    menuBar()->unsetCursor();
    UpdateMenuItems();
    aboutItem_->setEnabled(true);
    unsetCursor();
    dxDraw_->unsetCursor();
    SizeToMode();
    if (centreOnLeave_)
        CentreOnScreen();
    else
        move(savedPos_);
    centreOnLeave_ = false;
    dxDraw_->setFocus();
}

// The window opens with the drawing area at the mode's size; its border can be dragged, and the
// picture then scales with its aspect kept and black bars around it.
void TForm1::SizeToMode() {
    dxDraw_->setMinimumSize(320, 200);
    dxDraw_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    int menuHeight = menuBar()->heightForWidth(mode_.width());
    if (menuHeight <= 0) menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(320, 200 + menuHeight);
    resize(mode_.width(), mode_.height() + menuHeight);
}

void TForm1::ShowMenuBarInFullScreen(bool show) {
    if (!fullScreen_ || menuBar()->isVisible() == show) return;
    menuBar()->setVisible(show);
}

void TForm1::CentreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // The frame's size is known only once the window is shown; before that, the client's.
    const QSize outer = isVisible() ? frameGeometry().size() : size();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

}  // namespace app
