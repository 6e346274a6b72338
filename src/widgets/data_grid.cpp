// The data grid: a table's view with in-place editing, titles and column layout.
#include "widgets/data_grid.h"

#include <algorithm>

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QMetaProperty>
#include <QResizeEvent>
#include <QStyleOptionHeader>
#include <QTimer>

#include "db/value.h"
#include <QStyledItemDelegate>

#include "db/table.h"
#include "db/table_model.h"

namespace zentaro::app {

namespace {

// Columns with a pick list edit through a drop-down of their words; the first visual column of marked rows
// is painted light red.
class PickListDelegate : public QStyledItemDelegate {
public:
    PickListDelegate(db::TableModel* model, DataGrid* grid)
        : QStyledItemDelegate(grid), m_model(model), m_grid(grid) {}

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant rgb = index.data(db::TableModel::TextRgbRole);
        if (rgb.isValid()) option->palette.setColor(QPalette::Text, QColor::fromRgb(QRgb(rgb.toUInt())));
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!m_grid->highlightFirstColumn || m_grid->horizontalHeader()->visualIndex(index.column()) != 0 ||
            !m_grid->highlightFirstColumn(index.row()))
            return;
        const int field = m_model->fieldOfColumn(index.column());
        const db::Table& t = m_model->table();
        const QString text = t.field(field).kind == db::FieldKind::Lookup
                                 ? t.valueAt(index.row(), field).toString()
                                 : db::formatValue(t.field(field).type, t.valueAt(index.row(), field));
        painter->save();
        painter->fillRect(option.rect, QColor(255, 198, 198));
        painter->setClipRect(option.rect);
        QFont f = option.font;
        f.setBold(false);
        f.setItalic(false);
        painter->setFont(f);
        painter->setPen(Qt::black);
        painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        const QStringList& words = m_model->columns()[index.column()].pickList;
        if (words.isEmpty()) {
            QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
            const int field = m_model->fieldOfColumn(index.column());
            if (auto* edit = qobject_cast<QLineEdit*>(w);
                edit && field >= 0 && m_model->table().field(field).size > 0)
                edit->setMaxLength(m_model->table().field(field).size);
            return w;
        }
        auto* box = new QComboBox(parent);
        box->addItem(QString());
        box->addItems(words);
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentText(index.data(Qt::EditRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            model->setData(index, box->currentText(), Qt::EditRole);
            return;
        }
        const QByteArray property = editor->metaObject()->userProperty().name();
        const QVariant typed = editor->property(property.constData());
        if (!model->setData(index, typed, Qt::EditRole)) m_grid->refuseEdit(editor, index, typed.toString());
    }

private:
    db::TableModel* m_model;
    DataGrid* m_grid;
};

// A column that edits through a drop-down of another table's records; the choice writes the record's ID.
class LookupColumnDelegate : public PickListDelegate {
public:
    LookupColumnDelegate(db::TableModel* model, DataGrid* grid, db::Table& list, QString shown,
                         QString dataField)
        : PickListDelegate(model, grid), m_model(model), m_list(list), m_shown(std::move(shown)),
          m_dataField(std::move(dataField)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
        auto* box = new QComboBox(parent);
        const int id = m_list.fieldIndex(QStringLiteral("ID"));
        const int shown = m_list.fieldIndex(m_shown);
        for (int pos = 0; pos < m_list.recordCount(); ++pos)
            box->addItem(m_list.displayTextAt(pos, shown), m_list.valueAt(pos, id));
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        box->setCurrentIndex(box->findText(index.data(Qt::EditRole).toString()));
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        if (box->currentIndex() < 0) return;
        db::Table& t = m_model->table();
        if (m_model->makeCurrent(index.row()) && t.setValue(m_dataField, box->currentData())) t.post();
    }

private:
    db::TableModel* m_model;
    db::Table& m_list;
    QString m_shown;
    QString m_dataField;
};

// Titles in their colour; the one under the mouse underlined.
class GridHeader : public QHeaderView {
public:
    explicit GridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}
    int hovered = -1;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        const QVariant rgb = model()->headerData(logicalIndex, Qt::Horizontal, db::TableModel::TitleRgbRole);
        if (rgb.isValid())
            option->palette.setColor(QPalette::ButtonText, QColor::fromRgb(QRgb(rgb.toUInt())));
    }
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        painter->save();
        QFont f = font();
        f.setUnderline(logicalIndex == hovered);
        if (model()->headerData(logicalIndex, Qt::Horizontal, db::TableModel::SmallTitleRole).toBool())
            f.setPointSizeF(f.pointSizeF() * 0.85);
        painter->setFont(f);
        QHeaderView::paintSection(painter, rect, logicalIndex);
        painter->restore();
    }
};

} // namespace

DataGrid::DataGrid(db::TableModel* model, QWidget* parent) : QTableView(parent), m_model(model) {
    setHorizontalHeader(new GridHeader(this));
    setModel(model);
    setItemDelegate(new PickListDelegate(model, this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMouseTracking(true);
    horizontalHeader()->viewport()->setMouseTracking(true);
    horizontalHeader()->viewport()->installEventFilter(this);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setMinimumWidth(14);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    const auto& cols = model->columns();
    for (int c = 0; c < cols.size(); ++c) {
        setColumnWidth(c, std::max(cols[c].width, leastWidth(c)));
        setColumnHidden(c, !cols[c].visible);
    }
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        const int field = m_model->fieldOfColumn(section);
        if (field >= 0) emit titleClicked(m_model->table().field(field).name);
    });
    connect(model, &db::TableModel::currentRowChanged, this, &DataGrid::followTable);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { followTable(m_model->currentRow()); });
    followTable(model->currentRow());
}

db::Table& DataGrid::table() const {
    return m_model->table();
}

int DataGrid::leastWidth(int column) const {
    const auto& cols = m_model->columns();
    if (column < 0 || column >= cols.size()) return 0;
    if (cols[column].title == QLatin1String("#"))
        return fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12;
    // A date shows whole, also where an earlier version kept a narrower column.
    const int field = table().fieldIndex(cols[column].field);
    if (field >= 0 && table().field(field).type == db::FieldType::Date)
        return fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000")) + 12;
    return 0;
}

void DataGrid::setLookupColumn(int column, db::Table& list, const QString& shownField,
                               const QString& dataField) {
    m_model->setLookupEditor(column);
    setItemDelegateForColumn(column, new LookupColumnDelegate(m_model, this, list, shownField, dataField));
}

void DataGrid::followTable(int row) {
    if (m_syncing) return;
    m_syncing = true;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    if (row >= 0 && row < m_model->rowCount()) {
        const QModelIndex idx = m_model->index(row, column);
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
        scrollTo(idx);
    } else {
        selectionModel()->clearCurrentIndex();
    }
    m_syncing = false;
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid() || current.row() == previous.row()) return;
    m_syncing = true;
    m_model->setCurrentRow(current.row());
    m_syncing = false;
    // The table's rules may have moved elsewhere (an unchanged new record discarded, for one).
    if (m_model->currentRow() != current.row()) followTable(m_model->currentRow());
}

void DataGrid::refuseEdit(QWidget* editor, const QModelIndex& index, const QString& text) {
    m_refusedEditor = editor;
    m_refusedIndex = index;
    const int field = m_model->fieldOfColumn(index.column());
    emit inputRefused(field >= 0 ? db::refusedValueText(table().field(field).type, text)
                                 : table().lastError());
}

void DataGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (!editor || editor != m_refusedEditor) {
        QTableView::closeEditor(editor, hint);
        return;
    }
    // The typed text stays for the user to correct (Esc gives it up); back to its cell once the move that
    // left it is over.
    m_refusedEditor = nullptr;
    QTimer::singleShot(0, this, [this, editor = QPointer<QWidget>(editor), index = m_refusedIndex] {
        if (!editor || !index.isValid()) return;
        setCurrentIndex(index);
        editor->setFocus(Qt::OtherFocusReason);
        if (auto* line = qobject_cast<QLineEdit*>(editor.data())) line->selectAll();
    });
}

void DataGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        if (refuseChange && refuseChange()) return;
        if (deleteSelection && deleteSelection()) return;
        if (!table().controlsDisabled()) table().deleteRecord();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool DataGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (trigger != NoEditTriggers && state() != EditingState && index.isValid() &&
        (index.flags() & Qt::ItemIsEditable) &&
        (table().controlsDisabled() || (refuseChange && refuseChange())))
        return false;
    return QTableView::edit(index, trigger, event);
}

void DataGrid::commitOpenEditor() {
    if (state() != EditingState) return;
    // The cell editors are the view's own children of its viewport.
    for (QWidget* editor : viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

int DataGrid::firstEditableColumn() const {
    for (int visual = 0; visual < horizontalHeader()->count(); ++visual) {
        const int column = horizontalHeader()->logicalIndex(visual);
        if (isColumnHidden(column)) continue;
        if (m_model->flags(m_model->index(0, column)) & Qt::ItemIsEditable) return column;
    }
    return -1;
}

bool DataGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        int hovered = m_hovered;
        if (event->type() == QEvent::MouseMove)
            hovered =
                horizontalHeader()->logicalIndexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        else if (event->type() == QEvent::Leave)
            hovered = -1;
        if (hovered != m_hovered) {
            m_hovered = hovered;
            static_cast<GridHeader*>(horizontalHeader())->hovered = hovered;
            horizontalHeader()->viewport()->update();
        }
    }
    return QTableView::eventFilter(watched, event);
}

void DataGrid::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (!emptyText || model()->rowCount() > 0) return;
    const QString text = emptyText();
    if (text.isEmpty()) return;
    QPainter p(viewport());
    p.setPen(palette().color(QPalette::PlaceholderText));
    const QRect room = viewport()->rect().adjusted(16, 16, -16, -16);
    p.drawText(room, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text);
}

void DataGrid::setSpareWidthColumn(int column, int leastWidth) {
    m_spareColumn = column;
    m_spareLeast = leastWidth;
    fitSpareWidth();
}

void DataGrid::fitSpareWidth() {
    QHeaderView* h = horizontalHeader();
    if (m_spareColumn < 0 || m_spareColumn >= h->count() || h->isSectionHidden(m_spareColumn)) return;
    int used = 0;
    for (int i = 0; i < h->count(); ++i)
        if (!h->isSectionHidden(i)) used += h->sectionSize(i);
    const int spare = viewport()->width() - used;
    if (spare == 0) return;
    const int width = std::max(m_spareLeast, h->sectionSize(m_spareColumn) + spare);
    if (width != h->sectionSize(m_spareColumn)) h->resizeSection(m_spareColumn, width);
}

void DataGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitSpareWidth();
}

std::vector<int> DataGrid::selectedPositions() const {
    std::vector<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedIndexes())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

} // namespace zentaro::app
