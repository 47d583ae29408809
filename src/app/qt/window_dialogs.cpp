// The window's side of the game's Window interface: message boxes and questions, the game's
// dialogs, closing, and the frame statistics printed at the end.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "app/qt/about_form.h"
#include "app/qt/dialogs.h"
#include "app/qt/draw_surface.h"
#include "app/qt/frame_stats.h"
#include "app/qt/local_game.h"
#include "app/qt/main_window.h"
#include "app/runner/command_line.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "ui/captions.h"

namespace app {

void TForm1::ShowMessage(const std::string& text) {
    BetweenTicks([this, text] { Inform(text); });
}

void TForm1::Inform(const std::string& text) {
    const int language = game_ ? game_->Settings.language : 0;
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QString::fromStdString(ui::MessageText(text, language)), QMessageBox::Ok, this);
    box.exec();
}

bool TForm1::Confirm(const std::string& question) {
    const int language = game_ ? game_->Settings.language : 0;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(),
                    QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("ConfirmBox");
    box.button(QMessageBox::Yes)->setText(QString::fromStdString(ui::UiText("Yes", language)));
    box.button(QMessageBox::No)->setText(QString::fromStdString(ui::UiText("No", language)));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    ReleaseKeys();
    return box.exec() == QMessageBox::Yes;
}

void TForm1::BackToTitle() {
    local_->BackToTitle();
}

void TForm1::Close() {
    if (closing_) return;
    closing_ = true;
    dxTimer_.stop();
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void TForm1::Fail(const std::string& text) {
    std::cerr << "kordavel: " << text << "\n";
    exitCode_ = runner::kExitGameError;
    Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    closing_ = true;
    dxTimer_.stop();
    if (!formClosed_) {
        formClosed_ = true;
        EndSession(true);
        local_->Close();
        if (frameStats_) PrintFrameStats();
    }
    event->accept();
    // Ends every event loop, a modal dialog's included.
    QCoreApplication::exit(exitCode_);
}

void TForm1::SetTimerEnabled(bool enabled) {
    if (enabled && !closing_)
        dxTimer_.start();
    else
        dxTimer_.stop();
}

void TForm1::SetPaletteChecked(bool checked) {
    paletteType_->setChecked(checked);
}

void TForm1::SetLanguageChecked(int language) {
    (language == 0 ? langEnglish_ : langRussian_)->setChecked(true);
    captioned_ = true;
    ScanApp();
}

void TForm1::ExecDialog(QDialog& dialog, const char* name) {
    ExecTimed(dialog, [this, name](double ms) { dialogOpenMs_.emplace_back(name, ms); });
}

void TForm1::PrintFrameStats() const {
    std::cout << FormatFrameStats(SummariseIntervals(tickIntervals_, kdv::kTimerInterval));
    std::printf("frame-timer: missed=%lld\n", static_cast<long long>(dxTimer_.Missed()));
    if (dxDraw_->FirstPainted() != std::chrono::steady_clock::time_point{})
        std::printf("first-frame: %.1f ms\n",
                    std::chrono::duration<double, std::milli>(dxDraw_->FirstPainted() - startedAt_)
                        .count());
    for (const auto& [name, ms] : dialogOpenMs_)
        std::printf("dialog-open: %s %.1f ms\n", name.c_str(), ms);
    std::cout.flush();
    std::fflush(stdout);
}

void TForm1::ShowOptions() {
    BetweenTicks([this] {
        TOptionForm& form = OptionForm();
        form.FormShow();
        ExecDialog(form, "TOptionForm");
    });
}

void TForm1::ShowSelectLevel() {
    BetweenTicks([this] {
        TSelectForm& form = SelectForm();
        form.FormShow();
        ExecDialog(form, "TSelectForm");
    });
}

void TForm1::ShowAbout() {
    BetweenTicks([this] {
        MakeForms(2);
        ExecDialog(*aboutForm_, "TAboutForm");
    });
}

}  // namespace app
