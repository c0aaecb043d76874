#include "gui/ComplexListModel.h"

#include "gui/QtText.h"
#include "platform/DateTime.h"
#include "scenario/Scenario.h"

namespace vetlina {

ComplexListModel::ComplexListModel(const Scenario& scenario, QObject* parent)
    : QAbstractTableModel(parent), scenario_(scenario) {}

int ComplexListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : scenario_.count();
}

int ComplexListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ComplexListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= scenario_.count())
        return {};
    const ScenarioEntry& e = scenario_.entry(index.row());
    if (role == Qt::ToolTipRole)
        return fromCp(scenario_.listLine(index.row()));
    if (role == Qt::TextAlignmentRole && index.column() == SessionsColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case IdColumn:
        return fromCp(std::string(textOf(e.Id)));
    case NumberColumn:
        return fromCp(std::string(textOf(e.Number)));
    case StartColumn:
        return QString::fromStdString(formatDate(e.BegTime.get()) + " " +
                                      formatTime(e.BegTime.get()).substr(0, 5));
    case SessionsColumn:
        return QStringLiteral("%1/%2").arg(e.SessionsDone.get()).arg(e.NumTotal.get());
    default:
        return {};
    }
}

QVariant ComplexListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case IdColumn:
        return QStringLiteral("Идентификатор");
    case NumberColumn:
        return QStringLiteral("Номер");
    case StartColumn:
        return QStringLiteral("Начало");
    case SessionsColumn:
        return QStringLiteral("Сеансы");
    default:
        return {};
    }
}

void ComplexListModel::refresh() {
    beginResetModel();
    endResetModel();
}

} // namespace vetlina
