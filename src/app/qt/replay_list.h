#pragma once
// File -> Watch Replay: the kept games of the replay folder in columns (when, mode, stage,
// length, the players' scores, the side and partner of a network game), newest first, sorted by
// any column, and a button for any other file.
#include <QDateTime>
#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>

class QTreeWidget;

namespace app {

class ReplayList : public QDialog {
    Q_OBJECT
  public:
    ReplayList(QWidget* parent, const std::filesystem::path& folder, int language);
    // The file chosen, or empty.
    const std::string& Chosen() const { return chosen_; }
    QTreeWidget& Table() { return *table_; }

  private:
    void Choose();
    void OtherFile();

    std::filesystem::path folder_;
    int language_;
    QTreeWidget* table_ = nullptr;
    std::string chosen_;
};

// The local time a kept game's file is named by ("game-YYYYMMDD-HHMMSS-..."), if it is so named.
std::optional<QDateTime> NameTime(const std::string& name);

}  // namespace app
