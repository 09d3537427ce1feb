// TProgressListModel: the rows of the progress list, one per file: its name, a progress icon, and
// what the run adds to it while it goes (a file's percent while it travels, a dry run's verdict).
//
// Every change costs constant time. While a batch is open, rows added wait and come in with one
// insertion when it ends, and changed rows are announced once, so a view lays itself out once per
// batch however many files the batch held.
#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QString>
#include <array>
#include <vector>

#include "gui/ProgressIcons.h"

namespace ab {

class TProgressListModel : public QAbstractListModel {
  public:
    // The icons by index (0 arrow, 1 check, 2 cross, 3 passed over).
    explicit TProgressListModel(std::array<QIcon, kProgressIconCount> icons,
                                QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void BeginBatch();
    void EndBatch();

    // The new row's index (counting rows still waiting in a batch).
    int Append(const QString& text, int icon);
    // Changes to a row that does not exist are ignored.
    void SetIcon(int row, int icon);
    // Below 0: no percent shown.
    void SetPercent(int row, int percent);
    // Shown after the name, e.g. " — seria enviado".
    void SetNote(int row, const QString& note);
    void Clear();
    // Rows, with those still waiting in a batch.
    int Count() const;

  private:
    struct TRow {
        QString Text;
        QString Note;
        int Icon = 0;
        int Percent = -1;
    };

    TRow* Row(int row);
    void Changed(int row);

    std::array<QIcon, kProgressIconCount> icons_;
    std::vector<TRow> rows_;     // what views know of
    std::vector<TRow> pending_;  // added in the open batch
    int batch_ = 0;
    int changedFirst_ = -1;
    int changedLast_ = -1;
};

}  // namespace ab
