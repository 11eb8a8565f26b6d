#include "UTF8ListView.h"

#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QStringDecoder>
#include <QToolTip>

#include "components/QtText.h"

namespace vemlis {

namespace {

constexpr int dataRole = Qt::UserRole;
constexpr int checkRole = Qt::UserRole + 1;
constexpr int bytesRole = Qt::UserRole + 2;    // the cell's UTF-8 bytes, as given
constexpr int decodedRole = Qt::UserRole + 3;  // the same, decoded once for painting
constexpr int checkBoxWidth = 16;

// The list ticks its rows itself (a click on its box, Space); the item view's own toggling of
// checkable items would tick them a second time.
class NoTicks final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override {
        return false;
    }
};

// Assistive technologies offer one action on a cell, "Toggle", which Qt carries out by selecting
// or deselecting the cell's row (Select or Deselect of one row, the current row left where it
// is). The list's own input never selects that way, and QTreeWidgetItem::setSelected is not used
// on lists of ticks: on such a list the action means the row's tick, as Space means it.
class TickingSelection final : public QItemSelectionModel {
public:
    TickingSelection(QAbstractItemModel* model, UTF8ListView* view) : QItemSelectionModel(model, view), view(view) {}
    using QItemSelectionModel::select;
    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        const auto rows = QItemSelectionModel::Rows;
        if (view->hasCheckBoxes() && index.isValid() && (command == (Select | rows) || command == (Deselect | rows)))
            if (QTreeWidgetItem* row = view->itemFromIndex(index)) {
                view->setRowChecked(row, !view->isRowChecked(row));
                return;
            }
        QItemSelectionModel::select(index, command);
    }

private:
    UTF8ListView* view;
};

}  // namespace

UTF8ListView::UTF8ListView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    setItemDelegate(new NoTicks(this));
    QItemSelectionModel* plain = selectionModel();
    setSelectionModel(new TickingSelection(model(), this));
    delete plain;
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &UTF8ListView::onSelectionChanged);
    // A tick set through the model (an assistive technology) is a tick like a click's.
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        if (!checkBoxes || column != 0 || settingRow) return;
        const bool checked = row->data(0, Qt::CheckStateRole).toInt() == Qt::Checked;
        if (checked != isRowChecked(row)) setRowChecked(row, checked);
    });
}

void UTF8ListView::setSelectedItemColor(QColor color) {
    selectedItemColor = color;
    viewport()->update();
}

void UTF8ListView::setCheckBoxes(bool shown) {
    checkBoxes = shown;
    viewport()->update();
}

void UTF8ListView::setHideSelection(bool hide) {
    hideSelection = hide;
    viewport()->update();
}

void UTF8ListView::setReportStyle(bool report) {
    reportStyle = report;
    viewport()->update();
}

void UTF8ListView::addColumn(int width, Qt::Alignment alignment, const std::string& caption) {
    const int column = columnCount();
    setColumnCount(column + 1);
    headerItem()->setText(column, toQt(caption));
    // What a screen reader says for the column, also when its heading is an image.
    headerItem()->setData(column, Qt::AccessibleTextRole, toQt(caption));
    headerItem()->setTextAlignment(column, alignment | Qt::AlignVCenter);
    headerItem()->setData(column, Qt::UserRole, static_cast<int>(alignment));
    header()->resizeSection(column, width);
}

Qt::Alignment UTF8ListView::columnAlignment(int column) const {
    return Qt::Alignment(headerItem()->data(column, Qt::UserRole).toInt()) & Qt::AlignHorizontal_Mask;
}

QTreeWidgetItem* UTF8ListView::addRow(const std::string& caption, const void* data) {
    auto* item = new QTreeWidgetItem;
    item->setData(0, dataRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    item->setData(0, checkRole, false);
    item->setData(0, bytesRole, QByteArray(caption.data(), static_cast<qsizetype>(caption.size())));
    item->setData(0, decodedRole, shownText(caption));
    item->setData(0, Qt::AccessibleTextRole, item->data(0, decodedRole));
    if (checkBoxes) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setData(0, Qt::CheckStateRole, Qt::Unchecked);
        item->setData(0, Qt::AccessibleDescriptionRole, tickWords(false));
    }
    settingRow = true;
    addTopLevelItem(item);
    settingRow = false;
    growTo(0, item->data(0, decodedRole).toString());
    return item;
}

QString UTF8ListView::tickWords(bool checked) {
    // Also said of a row that is not ticked: the desktop's bridge (Qt 6.4) tells "checked" but
    // not that a cell can be checked, so an unticked row would sound like any other.
    return checked ? tr("checked") : tr("not checked");
}

void UTF8ListView::setColumnGrows(int column) {
    if (column < 0) return;
    if (static_cast<std::size_t>(column) >= growing.size()) growing.resize(static_cast<std::size_t>(column) + 1);
    growing[static_cast<std::size_t>(column)] = true;
}

void UTF8ListView::growTo(int column, const QString& text) {
    if (static_cast<std::size_t>(column) >= growing.size() || !growing[static_cast<std::size_t>(column)]) return;
    const int room = textRoom(column);
    const int need = fontMetrics().horizontalAdvance(text) + 4;
    if (need > room) header()->resizeSection(column, header()->sectionSize(column) + need - room);
}

void UTF8ListView::setCellText(QTreeWidgetItem* row, int column, const std::string& utf8) {
    emit rowChanging(row);
    row->setData(column, bytesRole, QByteArray(utf8.data(), static_cast<qsizetype>(utf8.size())));
    row->setData(column, decodedRole, shownText(utf8));
    growTo(column, row->data(column, decodedRole).toString());
    row->setData(column, Qt::AccessibleTextRole, row->data(column, decodedRole));
    emit rowChanged(row);
}

std::string UTF8ListView::cellText(const QTreeWidgetItem* row, int column) const {
    return row->data(column, bytesRole).toByteArray().toStdString();
}

void UTF8ListView::setRowChecked(QTreeWidgetItem* row, bool checked) {
    emit rowChanging(row);
    settingRow = true;
    row->setData(0, checkRole, checked);
    if (checkBoxes) {
        // Told to assistive technologies as the cell's check state.
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setData(0, Qt::CheckStateRole, checked ? Qt::Checked : Qt::Unchecked);
        row->setData(0, Qt::AccessibleDescriptionRole, tickWords(checked));
    }
    settingRow = false;
    if (checkBoxes && QAccessible::isActive()) {
        // Said at once by a screen reader: "checked", "not checked".
        if (QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this); list && list->tableInterface())
            if (QAccessibleInterface* cell = list->tableInterface()->cellAt(indexOfTopLevelItem(row), 0)) {
                QAccessible::State changed;
                changed.checked = true;
                QAccessibleStateChangeEvent event(cell, changed);
                QAccessible::updateAccessibility(&event);
            }
    }
    emit rowChanged(row);
}

bool UTF8ListView::isRowChecked(const QTreeWidgetItem* row) const { return row->data(0, checkRole).toBool(); }

const void* UTF8ListView::rowData(const QTreeWidgetItem* row) {
    return reinterpret_cast<const void*>(row->data(0, dataRole).value<quintptr>());
}

void UTF8ListView::removeRow(int index) { delete takeTopLevelItem(index); }

void UTF8ListView::clearRows() { clear(); }

QString UTF8ListView::decodeUtf8(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (decoder.hasError()) return {};
    return result;
}

QString UTF8ListView::shownText(const std::string& text) {
    // No column is wide enough for more: a title of millions of characters would otherwise be
    // measured whole at every layout.
    constexpr std::size_t shownBytes = 4096;
    if (text.size() <= shownBytes) return decodeUtf8(text);
    std::size_t end = shownBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;  // not inside a character
    return decodeUtf8(text.substr(0, end)) + QStringLiteral("...");
}

QString UTF8ListView::fitText(const QString& text, int room) const {
    const QFontMetrics metrics = fontMetrics();
    if (metrics.horizontalAdvance(text) <= room) return text;
    const QString ellipsis = QStringLiteral("...");
    if (metrics.horizontalAdvance(ellipsis) > room) return {};
    // The longest prefix that fits with the ellipsis; widths grow with the prefix, so a
    // binary search finds the same prefix as trying one character after another.
    qsizetype fits = 0;
    qsizetype tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype middle = (fits + tooLong) / 2;
        if (metrics.horizontalAdvance(text.left(middle) + ellipsis) > room)
            tooLong = middle;
        else
            fits = middle;
    }
    return text.left(fits) + ellipsis;
}

void UTF8ListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!reportStyle) {
        QTreeWidget::drawRow(painter, option, index);
        return;
    }
    const QTreeWidgetItem* item = itemFromIndex(index);
    if (!item) return;
    const int left = header()->sectionViewportPosition(0);
    const QRect rowRect(left, option.rect.top(), std::max(viewport()->width() - left, header()->length()),
                        option.rect.height());
    drawRectangle(painter, rowRect, selectionModel()->isRowSelected(index.row(), index.parent()));
    if (checkBoxes) drawCheckBox(painter, rowRect, item->data(0, checkRole).toBool());
    // Arrows and Space act on the current row: it shows where that is.
    if (hasFocus() && index.row() == currentIndex().row()) {
        painter->save();
        painter->setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rowRect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
    const bool selected = showsSelected(selectionModel()->isRowSelected(index.row(), index.parent()));
    int x = left;
    for (int column = 0; column < columnCount(); ++column) {
        if (column > 0) x += header()->sectionSize(column - 1);
        drawItem(painter, column, item->data(column, decodedRole).toString(), x, rowRect.top(), rowRect.height(),
                 column == 0 && checkBoxes ? 1 : 0, selected);
    }
}

const UTF8ListView::FittedText& UTF8ListView::fitted(const QString& text, int room) const {
    // Measuring and laying out text costs far more than drawing it; rows are repainted often
    // with the same texts in the same columns, so the fitted, laid-out text is kept.
    const auto key = qMakePair(text, room);
    auto it = fittedTexts.constFind(key);
    if (it != fittedTexts.constEnd()) return *it;
    if (fittedTexts.size() > 20000) fittedTexts.clear();
    const QFontMetrics metrics = fontMetrics();
    FittedText result;
    const int width = metrics.horizontalAdvance(text);
    const QString shown = width <= room ? text : fitText(text, room);
    result.fits = width <= room;
    result.width = result.fits ? width : metrics.horizontalAdvance(shown);
    result.text = QStaticText(shown);
    result.text.setTextFormat(Qt::PlainText);
    result.text.prepare(QTransform(), font());
    result.empty = shown.isEmpty();
    return *fittedTexts.insert(key, result);
}

int UTF8ListView::textRoom(int column) const {
    return header()->sectionSize(column) - (column == 0 && checkBoxes ? checkBoxWidth : 0) - 2;
}

QString UTF8ListView::cutTextAt(const QPoint& point) const {
    const QTreeWidgetItem* item = itemAt(point);
    const int column = header()->logicalIndexAt(point.x());
    if (!item || column < 0) return {};
    const QString text = item->data(column, decodedRole).toString();
    if (text.isEmpty() || fitted(text, textRoom(column)).fits) return {};
    return text;
}

bool UTF8ListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString whole = cutTextAt(help->pos());
        if (whole.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), whole, viewport());
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}

void UTF8ListView::drawItem(QPainter* painter, int column, const QString& text, int x, int y, int height,
                            int checkBoxOffset, bool selected) const {
    if (text.isEmpty()) return;
    const int textX = x + checkBoxWidth * checkBoxOffset + 2;
    const int room = header()->sectionSize(column) + x - textX;
    const FittedText& fit = fitted(text, room);
    if (fit.empty) return;
    int drawX = textX;
    if (fit.fits) {
        const Qt::Alignment alignment = columnAlignment(column);
        if (alignment & Qt::AlignRight)
            drawX = textX + room - fit.width;
        else if (alignment & Qt::AlignHCenter)
            drawX = textX + room / 2 - fit.width / 2;
    }
    // Shortened texts stand left-aligned, whatever the column's alignment.
    painter->setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawStaticText(drawX, y + (height - fontMetrics().height()) / 2, fit.text);
}

void UTF8ListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) fittedTexts.clear();
    QTreeWidget::changeEvent(event);
}

bool UTF8ListView::showsSelected(bool selected) const {
    // White asks for a selection that is not marked (the queue lists).
    return selected && (hasFocus() || !hideSelection) && selectedItemColor != QColor(Qt::white);
}

void UTF8ListView::drawRectangle(QPainter* painter, const QRect& rect, bool selected) const {
    // In the theme's colours, so that a dark theme stays readable.
    painter->fillRect(rect, palette().color(showsSelected(selected) ? QPalette::Highlight : QPalette::Base));
}

void UTF8ListView::drawCheckBox(QPainter* painter, const QRect& rect, bool checked) const {
    QStyleOptionButton box;
    box.initFrom(this);
    box.rect = QRect(rect.left() + 1, rect.top() + (rect.height() - 14) / 2, 14, 14);
    box.state = (box.state & ~QStyle::State_HasFocus) | (checked ? QStyle::State_On : QStyle::State_Off) |
                QStyle::State_Enabled;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
    // Some styles frame the box in a shade of the window, which a dark theme swallows: the
    // frame again in the text's colour, half seen.
    QColor frame = palette().color(QPalette::Text);
    frame.setAlpha(140);
    painter->save();
    painter->setPen(frame);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(box.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void UTF8ListView::mousePressEvent(QMouseEvent* event) {
    if (checkBoxes && event->button() == Qt::LeftButton) {
        QTreeWidgetItem* item = itemAt(event->position().toPoint());
        if (item) {
            const int left = header()->sectionViewportPosition(0);
            const int x = event->position().toPoint().x();
            if (x >= left + 2 && x <= left + 15) setRowChecked(item, !isRowChecked(item));
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void UTF8ListView::keyPressEvent(QKeyEvent* event) {
    if (checkBoxes && event->key() == Qt::Key_Space && currentItem()) {
        setRowChecked(currentItem(), !isRowChecked(currentItem()));
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void UTF8ListView::onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    for (const QModelIndex& index : deselected.indexes())
        if (index.column() == 0)
            if (QTreeWidgetItem* item = itemFromIndex(index)) emit rowSelected(item, false);
    for (const QModelIndex& index : selected.indexes())
        if (index.column() == 0)
            if (QTreeWidgetItem* item = itemFromIndex(index)) emit rowSelected(item, true);
}

}  // namespace vemlis
