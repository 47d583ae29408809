#include "app/qt/about_form.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/qt/dialogs.h"
#include "replay/format.h"
#include "ui/captions.h"

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace app {
namespace {

// The version and the build it names: replays and network games need the same build.
QString VersionText() {
    return QString(KORDAVEL_VERSION " (build %1)")
        .arg(QString::fromStdString(replay::BuildIdentity()));
}

constexpr int kFrameMs = 40;
constexpr int kCycle = 150;  // steps of one round of the scene
constexpr int kPixel = 3;    // the scene is drawn in 3x3 blocks, like an enlarged frame

}  // namespace

AboutScene::AboutScene(QWidget* parent) : QWidget(parent) {
    setObjectName("AboutScene");
    setFixedSize(sizeHint());
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kCycle;
        update();
    });
}

void AboutScene::showEvent(QShowEvent*) {
    step_ = 0;
    timer_.start();
}

void AboutScene::hideEvent(QHideEvent*) {
    timer_.stop();
}

void AboutScene::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    auto block = [&](int x, int y, int w, int h, QColor colour) {
        p.fillRect(x * kPixel, y * kPixel, w * kPixel, h * kPixel, colour);
    };
    // A wall on the right that loses a brick row to each shell.
    const int hits = step_ < 60 ? 0 : step_ < 100 ? 1 : 2;
    for (int row = 0; row < 6; ++row) {
        if (row >= 2 && row < 2 + hits * 2 && row < 4) continue;
        const int shift = row % 2 ? 2 : 0;
        for (int col = 0; col < 3; ++col)
            block(66 + col * 4 - shift + 2, 6 + row * 2, 3, 1, QColor(176, 72, 24));
    }
    // The tank drives in, stops and fires; the links of its tracks run while it drives.
    const int x = std::min(step_, 30);
    const QColor body(220, 190, 40), dark(120, 100, 20), track(80, 80, 80), link(150, 150, 150);
    for (int y : {7, 17}) {
        block(x, y, 12, 2, track);
        for (int l = (step_ < 30 ? step_ % 3 : 0); l < 12; l += 3) block(x + l, y, 1, 2, link);
    }
    block(x + 1, 9, 10, 8, body);
    block(x + 3, 11, 5, 4, dark);
    block(x + 8, 12, 8, 2, dark);  // the barrel, to the right
    // Two shells on their way to the wall.
    for (int shot : {35, 75}) {
        const int flight = step_ - shot;
        if (flight >= 0 && flight < 25) block(x + 17 + flight * 2, 12, 2, 2, Qt::white);
    }
    // A flash where a shell strikes.
    for (int hit : {60, 100})
        if (step_ >= hit && step_ < hit + 6) block(64, 9, 6, 8, QColor(255, 160, 0));
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    Tag(this, "TAboutForm", "TAboutForm");
    setWindowTitle("About");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel("Kordavel", this);
    Tag(name, "ProductName", "TLabel");
    QFont big = name->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    auto* version = version_ = new QLabel(QString("Version %1").arg(VersionText()), this);
    Tag(version, "Version", "TLabel");
    version->setAlignment(Qt::AlignCenter);
    auto* credits = credits_ = new QLabel("Made by the Kordavel developers", this);
    Tag(credits, "Credits", "TLabel");
    credits->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(name);
    layout->addWidget(new AboutScene(this), 0, Qt::AlignCenter);
    layout->addWidget(version);
    layout->addWidget(credits);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutForm::SetLanguage(int language) {
    setWindowTitle(QString::fromStdString(ui::UiText("About", language)));
    version_->setText(
        QString::fromStdString(ui::UiText("Version %1", language)).arg(VersionText()));
    credits_->setText(
        QString::fromStdString(ui::UiText("Made by the Kordavel developers", language)));
}

}  // namespace app
