#include "app/qt/replay_list.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "core/flow/game_state.h"
#include "replay/library.h"
#include "ui/captions.h"
#include "ui/replay_watch.h"

namespace app {
namespace {

constexpr int kSortKey = Qt::UserRole + 1;
enum Column { kDate, kMode, kStage, kLength, kScores, kNetwork, kColumns };

// Sorts by the value behind each cell (a time, a number), not by its text; equal values keep
// the files in the order of their names.
class Row : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(column, kSortKey), b = other.data(column, kSortKey);
        if (a != b) return QVariant::compare(a, b) == QPartialOrdering::Less;
        return data(kDate, Qt::UserRole).toString() < other.data(kDate, Qt::UserRole).toString();
    }
};

QString Ui(const char* english, int language) {
    return QString::fromStdString(ui::UiText(english, language));
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

QString NetworkText(const replay::Header& h, int language) {
    if (h.side == replay::Side::Local) return {};
    const char* side = h.side == replay::Side::Host     ? "Host"
                       : h.side == replay::Side::Joiner ? "Joiner"
                                                        : "Spectator";
    // The address comes from the file: only printable characters are shown.
    return Ui(side, language) + ", " + QString::fromStdString(replay::Printable(h.partner));
}

}  // namespace

std::optional<QDateTime> NameTime(const std::string& name) {
    // game-YYYYMMDD-HHMMSS-NN-...: the local time the game ended.
    if (!replay::IsGameFileName(name) || name.size() < 20 || name[13] != '-') return std::nullopt;
    const QDateTime t =
        QDateTime::fromString(QString::fromStdString(name.substr(5, 15)), "yyyyMMdd-HHmmss");
    if (!t.isValid()) return std::nullopt;
    return t;
}

ReplayList::ReplayList(QWidget* parent, const std::filesystem::path& folder, int language)
    : QDialog(parent), folder_(folder), language_(language) {
    setObjectName("ReplayList");
    const QString title =
        QString::fromStdString(ui::CaptionFor("MWatchReplay", language).value_or("Watch Replay"));
    setWindowTitle(title.endsWith(QChar(0x2026)) ? title.chopped(1) : title);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    table_ = new QTreeWidget(this);
    table_->setObjectName("Replays");
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setColumnCount(kColumns);
    table_->setHeaderLabels({Ui("Date", language), Ui("Mode", language), Ui("Stage", language),
                             Ui("Length", language), Ui("Scores", language),
                             Ui("Network", language)});
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setTextElideMode(Qt::ElideNone);
    for (const replay::KeptGame& game : replay::ListGames(folder)) {
        const replay::Header& h = game.header;
        auto* item = new Row(table_);
        // The time the file is named by, so that the list and the folder agree; a file the
        // player renamed shows when its game began.
        const QDateTime when = NameTime(game.path.filename().string())
                                   .value_or(QDateTime::fromMSecsSinceEpoch(h.startTime));
        item->setText(kDate, when.toString("yyyy-MM-dd hh:mm:ss"));
        item->setData(kDate, kSortKey, when.toMSecsSinceEpoch());
        item->setText(kMode, ModeText(h.mode, language));
        item->setData(kMode, kSortKey, int(h.mode));
        item->setText(kStage, h.mode == replay::kNoMode ? QString() : QString::number(h.stage));
        item->setData(kStage, kSortKey, h.mode == replay::kNoMode ? -1 : h.stage);
        item->setText(kLength, QString::fromStdString(ui::LengthText(h.ticks)));
        item->setData(kLength, kSortKey, qint64(h.ticks));
        QString scores = QString::number(h.scores[0]);
        if (h.mode == kdv::gmTwoPlayers || h.mode == kdv::gmDuel)
            scores += QString(" : %1").arg(h.scores[1]);
        item->setText(kScores, scores);
        item->setData(kScores, kSortKey, qint64(h.scores[0]) + h.scores[1]);
        item->setText(kNetwork, NetworkText(h, language));
        item->setData(kNetwork, kSortKey, item->text(kNetwork));
        for (int c = kStage; c <= kScores; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(kDate, QString::fromStdString(game.path.filename().string()));
        item->setData(kDate, Qt::UserRole, QString::fromStdString(game.path.string()));
    }
    table_->setSortingEnabled(true);
    table_->sortByColumn(kDate, Qt::DescendingOrder);
    if (table_->topLevelItemCount() > 0) table_->setCurrentItem(table_->topLevelItem(0));
    // Wide enough for every column: a partner's address must not hide behind a scroll bar.
    table_->header()->resizeSections(QHeaderView::ResizeToContents);
    const int wide = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width() +
                     table_->header()->length();
    table_->setMinimumWidth(std::max(560, wide));
    connect(table_, &QTreeWidget::itemActivated, this, [this] { Choose(); });
    layout->addWidget(table_);
    if (table_->topLevelItemCount() == 0) {
        auto* none = new QLabel(Ui("No replays yet.", language), this);
        none->setObjectName("NoReplays");
        layout->addWidget(none);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Ok needs a game to watch; Other File… stays for a file kept elsewhere.
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(table_->currentItem() != nullptr);
    connect(table_, &QTreeWidget::currentItemChanged, ok,
            [ok](QTreeWidgetItem* current) { ok->setEnabled(current != nullptr); });
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
        QString::fromStdString(ui::CaptionFor("ReplayFiles", language_).value_or("Replays")) +
            " (*.kdr)");
    if (file.isEmpty()) return;
    chosen_ = file.toStdString();
    accept();
}

}  // namespace app
