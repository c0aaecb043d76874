// The list of answering complexes as a table model over the scenario: row i is entry i
// (the order of the list is the order of the array), so a list of any length costs
// nothing until it is drawn.
#pragma once

#include <QAbstractTableModel>

namespace vetlina {

class Scenario;

class ComplexListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { IdColumn, NumberColumn, StartColumn, SessionsColumn, ColumnCount };

    explicit ComplexListModel(const Scenario& scenario, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The scenario's list changed (lines added, removed, reordered or rewritten).
    void refresh();

private:
    const Scenario& scenario_;
};

} // namespace vetlina
