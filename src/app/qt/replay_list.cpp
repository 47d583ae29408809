#include "app/qt/replay_list.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "app/qt/captions.h"
#include "core/flow/game_state.h"
#include "replay/library.h"

namespace app {
namespace {

constexpr int kTickMs = 13;

QString Ui(const char* english, int language) {
    return QString::fromStdString(UiText(english, language));
}

QString ModeText(uint8_t mode, int language) {
    switch (mode) {
        case kdv::gmOnePlayer:
            return Ui("One player", language);
        case kdv::gmTwoPlayers:
            return Ui("Two players", language);
        case kdv::gmDuel:
            return Ui("Duel", language);
        default:
            return Ui("No game", language);
    }
}

}  // namespace

std::string LengthText(int64_t ticks) {
    const int64_t seconds = ticks * kTickMs / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

ReplayList::ReplayList(QWidget* parent, const std::filesystem::path& folder, int language)
    : QDialog(parent), folder_(folder), language_(language) {
    setObjectName("ReplayList");
    const QString title = QString::fromStdString(
        CaptionFor("MWatchReplay", language).value_or("Watch Replay"));
    setWindowTitle(title.endsWith(QChar(0x2026)) ? title.chopped(1) : title);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    table_ = new QTreeWidget(this);
    table_->setObjectName("Replays");
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setColumnCount(5);
    table_->setHeaderLabels({Ui("Date", language), Ui("Mode", language), Ui("Stage", language),
                             Ui("Length", language), Ui("Scores", language)});
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setTextElideMode(Qt::ElideNone);
    for (const replay::KeptGame& game : replay::ListGames(folder)) {
        const replay::Header& h = game.header;
        auto* item = new QTreeWidgetItem(table_);
        item->setText(0, QDateTime::fromMSecsSinceEpoch(h.startTime).toString("yyyy-MM-dd hh:mm:ss"));
        item->setText(1, ModeText(h.mode, language));
        item->setText(2, h.mode == replay::kNoMode ? QString() : QString::number(h.stage));
        item->setText(3, QString::fromStdString(LengthText(h.ticks)));
        QString scores = QString::number(h.scores[0]);
        if (h.mode == kdv::gmTwoPlayers || h.mode == kdv::gmDuel)
            scores += QString(" : %1").arg(h.scores[1]);
        item->setText(4, scores);
        for (int c = 2; c <= 4; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, QString::fromStdString(game.path.filename().string()));
        item->setData(0, Qt::UserRole, QString::fromStdString(game.path.string()));
    }
    if (table_->topLevelItemCount() > 0) table_->setCurrentItem(table_->topLevelItem(0));
    table_->setMinimumWidth(560);
    connect(table_, &QTreeWidget::itemActivated, this, [this] { Choose(); });
    layout->addWidget(table_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* other = buttons->addButton(Ui("Other File…", language), QDialogButtonBox::ActionRole);
    other->setObjectName("OtherFile");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { Choose(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(other, &QPushButton::clicked, this, [this] { OtherFile(); });
    layout->addWidget(buttons);
}

void ReplayList::Choose() {
    if (QTreeWidgetItem* item = table_->currentItem()) {
        chosen_ = item->data(0, Qt::UserRole).toString().toStdString();
        accept();
    }
}

void ReplayList::OtherFile() {
    const QString file = QFileDialog::getOpenFileName(
        this, windowTitle(), QString::fromStdString(folder_.string()),
        QString::fromStdString(CaptionFor("ReplayFiles", language_).value_or("Replays")) +
            " (*.kdr)");
    if (file.isEmpty()) return;
    chosen_ = file.toStdString();
    accept();
}

}  // namespace app
