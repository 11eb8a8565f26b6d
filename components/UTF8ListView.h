#pragma once

#include <QColor>
#include <QHash>
#include <QStaticText>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace vemlis {

// The report-style list under every list of the program. It paints whole rows itself, in the
// theme's colours: the highlight for a selected row (while the list has the focus, or always
// when it keeps its selection on focus loss), the style's check box, and cell texts decoded
// strictly from UTF-8 (a malformed text shows as an empty cell), shortened with "..." when
// they do not fit. Rows are top-level items; each keeps a pointer to its model object. Screen
// readers get each cell's text, each column's caption and each row's tick from the model.
class UTF8ListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit UTF8ListView(QWidget* parent = nullptr);

    QColor getSelectedItemColor() const { return selectedItemColor; }
    // White: a selected row is not marked; any other colour: it is, in the theme's highlight.
    void setSelectedItemColor(QColor color);
    void setCheckBoxes(bool shown);
    bool hasCheckBoxes() const { return checkBoxes; }
    // Whether a selected row loses its colour when the list loses the focus (default true).
    void setHideSelection(bool hide);
    void setReportStyle(bool report);

    // Columns: width in pixels, alignment, caption (UTF-8).
    void addColumn(int width, Qt::Alignment alignment, const std::string& caption);
    Qt::Alignment columnAlignment(int column) const;
    // The column widens to show each text set in it whole (short texts such as bit rates,
    // whose length only the catalogue knows).
    void setColumnGrows(int column);

    // Rows. A row change raises rowChanging and rowChanged around it.
    QTreeWidgetItem* addRow(const std::string& caption, const void* data);
    void setCellText(QTreeWidgetItem* row, int column, const std::string& utf8);
    std::string cellText(const QTreeWidgetItem* row, int column) const;
    void setRowChecked(QTreeWidgetItem* row, bool checked);
    bool isRowChecked(const QTreeWidgetItem* row) const;
    static const void* rowData(const QTreeWidgetItem* row);
    QTreeWidgetItem* row(int index) const { return topLevelItem(index); }
    int rowCount() const { return topLevelItemCount(); }
    void removeRow(int index);
    void clearRows();

    // The painting of one cell's text, exposed for measuring: the text shortened to fit the
    // room (whole, with "...", or empty).
    QString fitText(const QString& text, int room) const;
    // Strict UTF-8: a malformed text decodes to an empty one.
    static QString decodeUtf8(const std::string& text);
    // What a cell shows of a text: the decoded text, or its first few thousand bytes and "...".
    static QString shownText(const std::string& text);
    // The cell's whole text when it is shown shortened at the point (viewport coordinates),
    // else an empty text.
    QString cutTextAt(const QPoint& point) const;

signals:
    void rowChanging(QTreeWidgetItem* row);
    void rowChanged(QTreeWidgetItem* row);
    // A row became selected or unselected (unselections first).
    void rowSelected(QTreeWidgetItem* row, bool selected);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A cell whose text is shortened shows it whole as a tooltip.
    bool viewportEvent(QEvent* event) override;

    void drawRectangle(QPainter* painter, const QRect& rect, bool selected) const;
    void drawCheckBox(QPainter* painter, const QRect& rect, bool checked) const;
    // One cell's text at the column's left edge x (plus the check box when offset is 1).
    void drawItem(QPainter* painter, int column, const QString& text, int x, int y, int height,
                  int checkBoxOffset, bool selected = false) const;
    // Whether a selected row shows as selected now.
    bool showsSelected(bool selected) const;
    // The room a cell's text has: the column's width less the check box and the margin.
    int textRoom(int column) const;
    // Widens a growing column so that the text shows whole.
    void growTo(int column, const QString& text);

private:
    struct FittedText {
        QStaticText text;
        int width = 0;
        bool fits = true;
        bool empty = false;
    };
    const FittedText& fitted(const QString& text, int room) const;
    // What a screen reader hears of a row's tick.
    static QString tickWords(bool checked);
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

    QColor selectedItemColor{0, 0, 0};
    bool checkBoxes = false;
    bool hideSelection = true;
    bool reportStyle = true;
    bool settingRow = false;  // the list itself changes an item: not a tick from outside
    std::vector<bool> growing;  // by column
    mutable QHash<QPair<QString, int>, FittedText> fittedTexts;
};

}  // namespace vemlis
