// The progress list's rows.
#include "gui/TProgressListModel.h"

#include <algorithm>

namespace ab {

TProgressListModel::TProgressListModel(std::array<QIcon, kProgressIconCount> icons, QObject* parent)
    : QAbstractListModel(parent), icons_(std::move(icons)) {}

int TProgressListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TProgressListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) || index.column() != 0)
        return {};
    const TRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            if (row.Percent < 0)
                return row.Text + row.Note;
            return row.Text + row.Note + QStringLiteral(" \u2014 %1%").arg(row.Percent);
        case Qt::DecorationRole:
            if (row.Icon >= 0 && row.Icon < static_cast<int>(icons_.size()))
                return icons_[static_cast<std::size_t>(row.Icon)];
            return {};
        default:
            return {};
    }
}

QVariant TProgressListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Arquivo");
    return {};
}

Qt::ItemFlags TProgressListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TProgressListModel::BeginBatch() {
    ++batch_;
}

void TProgressListModel::EndBatch() {
    if (batch_ == 0 || --batch_ > 0)
        return;
    if (changedFirst_ >= 0) {
        emit dataChanged(index(changedFirst_), index(changedLast_));
        changedFirst_ = changedLast_ = -1;
    }
    if (!pending_.empty()) {
        const int first = static_cast<int>(rows_.size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(pending_.size()) - 1);
        std::move(pending_.begin(), pending_.end(), std::back_inserter(rows_));
        pending_.clear();
        endInsertRows();
    }
}

int TProgressListModel::Append(const QString& text, int icon) {
    const int row = Count();
    if (batch_ > 0) {
        pending_.push_back({text, {}, icon, -1});
        return row;
    }
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back({text, {}, icon, -1});
    endInsertRows();
    return row;
}

TProgressListModel::TRow* TProgressListModel::Row(int row) {
    if (row < 0)
        return nullptr;
    const auto r = static_cast<std::size_t>(row);
    if (r < rows_.size())
        return &rows_[r];
    if (r - rows_.size() < pending_.size())
        return &pending_[r - rows_.size()];
    return nullptr;
}

// Rows still waiting are announced with their insertion.
void TProgressListModel::Changed(int row) {
    if (row >= static_cast<int>(rows_.size()))
        return;
    if (batch_ == 0) {
        emit dataChanged(index(row), index(row));
        return;
    }
    changedFirst_ = changedFirst_ < 0 ? row : std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
}

void TProgressListModel::SetIcon(int row, int icon) {
    if (TRow* r = Row(row)) {
        r->Icon = icon;
        Changed(row);
    }
}

void TProgressListModel::SetPercent(int row, int percent) {
    TRow* r = Row(row);
    if (r == nullptr || r->Percent == std::max(-1, percent))
        return;
    r->Percent = std::max(-1, percent);
    Changed(row);
}

void TProgressListModel::SetNote(int row, const QString& note) {
    if (TRow* r = Row(row)) {
        r->Note = note;
        Changed(row);
    }
}

void TProgressListModel::Clear() {
    beginResetModel();
    rows_.clear();
    pending_.clear();
    changedFirst_ = changedLast_ = -1;
    endResetModel();
}

int TProgressListModel::Count() const {
    return static_cast<int>(rows_.size() + pending_.size());
}

}  // namespace ab
