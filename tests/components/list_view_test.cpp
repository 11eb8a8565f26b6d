#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QAccessible>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "components/UTF8ListView.h"

using vemlis::UTF8ListView;

namespace {

// The list painted into an image, as a screen would show it.
QImage render(UTF8ListView& view) {
    view.resize(400, 200);
    view.show();
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    view.viewport()->render(&image);
    return image;
}

bool darkIn(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 100) return true;
    return false;
}

}  // namespace

TEST(UTF8ListView, PaintsRowsItself) {
    UTF8ListView view;
    view.setCheckBoxes(true);
    view.setSelectedItemColor(QColor(0, 200, 0));
    view.setHideSelection(false);
    view.addColumn(150, Qt::AlignLeft, "Name");
    view.addColumn(60, Qt::AlignRight, "Count");
    view.addColumn(60, Qt::AlignLeft, "Short");
    QTreeWidgetItem* selected = view.addRow("Grüße", nullptr);
    view.setCellText(selected, 1, "12");
    QTreeWidgetItem* checked = view.addRow("plain", nullptr);
    view.setRowChecked(checked, true);
    view.setCellText(checked, 2, "a rather long text that cannot fit");
    QTreeWidgetItem* broken = view.addRow(std::string("bad \xC3", 5), nullptr);
    view.setCurrentItem(broken);

    const QImage image = render(view);
    const QRect first = view.visualItemRect(selected);
    const QRect second = view.visualItemRect(checked);
    const QRect third = view.visualItemRect(broken);
    // The selected row in the theme's highlight, across the whole width; the others in the base colour.
    EXPECT_EQ(QColor(image.pixel(380, third.center().y())), view.palette().color(QPalette::Highlight));
    EXPECT_EQ(QColor(image.pixel(380, second.center().y())), view.palette().color(QPalette::Base));
    // The check box frame, and the tick only where the row is ticked.
    const int boxTop = second.top() + (second.height() - 14) / 2;
    EXPECT_LT(qGray(image.pixel(1, boxTop + 7)), 200);
    EXPECT_TRUE(darkIn(image, QRect(4, boxTop + 3, 8, 8)));
    const int firstBoxTop = first.top() + (first.height() - 14) / 2;
    EXPECT_FALSE(darkIn(image, QRect(4, firstBoxTop + 3, 8, 8)));
    // Text starts after the check box in the first column.
    EXPECT_TRUE(darkIn(image, QRect(18, first.top(), 40, first.height())));
    // The right-aligned count sits at the right end of its column.
    EXPECT_TRUE(darkIn(image, QRect(150 + 40, first.top(), 19, first.height())));
    EXPECT_FALSE(darkIn(image, QRect(150 + 2, first.top() + 2, 25, first.height() - 4)));
    // A malformed text shows nothing.
    EXPECT_FALSE(darkIn(image, QRect(18, third.top() + 1, 130, third.height() - 2)));
    EXPECT_TRUE(UTF8ListView::decodeUtf8(std::string("bad \xC3", 5)).isEmpty());
    EXPECT_EQ(UTF8ListView::decodeUtf8("Grüße"), QString::fromUtf8("Grüße"));
}

TEST(UTF8ListView, ShortensTextsWithAnEllipsis) {
    UTF8ListView view;
    const QString text = "a rather long text that cannot fit";
    const QFontMetrics metrics = view.fontMetrics();
    const int whole = metrics.horizontalAdvance(text);
    EXPECT_EQ(view.fitText(text, whole), text);  // exactly as wide as the room: whole
    const QString shortened = view.fitText(text, whole / 2);
    EXPECT_TRUE(shortened.endsWith("..."));
    EXPECT_LE(metrics.horizontalAdvance(shortened), whole / 2);
    const QString oneMore = text.left(shortened.size() - 3 + 1) + "...";
    EXPECT_GT(metrics.horizontalAdvance(oneMore), whole / 2);  // the longest prefix that fits
    EXPECT_EQ(view.fitText(text, metrics.horizontalAdvance("...") - 1), QString());
    EXPECT_EQ(view.fitText(text, metrics.horizontalAdvance("...")), QString("..."));
}

TEST(UTF8ListView, SelectionColourFollowsTheFocusRule) {
    UTF8ListView view;
    view.setSelectedItemColor(QColor(0, 0, 255));
    view.addColumn(150, Qt::AlignLeft, "Name");
    QTreeWidgetItem* row = view.addRow("x", nullptr);
    view.setCurrentItem(row);
    const QImage hidden = render(view);  // no focus offscreen, selection hidden by default
    EXPECT_EQ(QColor(hidden.pixel(300, view.visualItemRect(row).center().y())), view.palette().color(QPalette::Base));
    view.setHideSelection(false);
    const QImage kept = render(view);
    EXPECT_EQ(QColor(kept.pixel(300, view.visualItemRect(row).center().y())), view.palette().color(QPalette::Highlight));
    view.setSelectedItemColor(Qt::white);  // a list whose selection is not marked
    const QImage unmarked = render(view);
    EXPECT_EQ(QColor(unmarked.pixel(300, view.visualItemRect(row).center().y())), view.palette().color(QPalette::Base));
}

TEST(UTF8ListView, TicksAndTextsReadOnADarkTheme) {
    UTF8ListView view;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) dark.setColor(role, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    view.setPalette(dark);
    view.setCheckBoxes(true);
    view.setHideSelection(false);
    view.addColumn(150, Qt::AlignLeft, "Name");
    QTreeWidgetItem* ticked = view.addRow("ticked", nullptr);
    view.setRowChecked(ticked, true);
    const QImage image = render(view);
    const QRect row = view.visualItemRect(ticked);
    const auto brightest = [&](const QRect& area) {
        int most = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) most = std::max(most, qGray(image.pixel(x, y)));
        return most;
    };
    const int background = qGray(dark.color(QPalette::Base).rgb());
    // The check box and the text stand out from the dark background by far.
    EXPECT_GT(brightest(QRect(1, row.top(), 15, row.height())) - background, 100);
    EXPECT_GT(brightest(QRect(18, row.top(), 60, row.height())) - background, 100);
}

TEST(UTF8ListView, AClickOnTheCheckBoxTogglesIt) {
    UTF8ListView view;
    view.setCheckBoxes(true);
    view.addColumn(150, Qt::AlignLeft, "Name");
    QTreeWidgetItem* row = view.addRow("x", nullptr);
    view.addRow("y", nullptr);
    render(view);
    QSignalSpy before(&view, &UTF8ListView::rowChanging);
    QSignalSpy after(&view, &UTF8ListView::rowChanged);
    const QPoint box(8, view.visualItemRect(row).center().y());
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box);
    EXPECT_TRUE(view.isRowChecked(row));
    EXPECT_EQ(before.count(), 1);
    EXPECT_EQ(after.count(), 1);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(100, box.y()));  // the text: no toggle
    EXPECT_TRUE(view.isRowChecked(row));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box);
    EXPECT_FALSE(view.isRowChecked(row));
    view.setCurrentItem(row);
    QTest::keyClick(&view, Qt::Key_Space);
    EXPECT_TRUE(view.isRowChecked(row));
}

TEST(UTF8ListView, AHugeTextIsShownCutAndKeptWhole) {
    UTF8ListView view;
    view.addColumn(200, Qt::AlignLeft, "Title");
    std::string huge;
    while (huge.size() < 15'000'000) huge += "Grüße ";
    QTreeWidgetItem* row = view.addRow("x", nullptr);
    view.setCellText(row, 0, huge);
    view.resize(400, 200);
    view.show();
    QApplication::processEvents();
    view.viewport()->repaint();
    EXPECT_EQ(view.cellText(row, 0), huge);
    const QString shown = UTF8ListView::shownText(huge);
    EXPECT_LE(shown.size(), 4100);
    EXPECT_TRUE(shown.endsWith("..."));
    EXPECT_FALSE(shown.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(UTF8ListView::shownText("Grüße").startsWith("Gr"));
}

TEST(UTF8ListView, ACutTextIsAToolTipAndTheFocusedRowIsFramed) {
    UTF8ListView view;
    view.addColumn(120, Qt::AlignLeft, "Name");
    view.addColumn(200, Qt::AlignLeft, "More");
    QTreeWidgetItem* cut = view.addRow("a rather long text that cannot fit in its column", nullptr);
    QTreeWidgetItem* whole = view.addRow("short", nullptr);
    view.setCellText(whole, 1, "fits");
    const QImage unfocused = render(view);
    const QRect first = view.visualItemRect(cut);
    const QRect second = view.visualItemRect(whole);
    EXPECT_EQ(view.cutTextAt(QPoint(10, first.center().y())), "a rather long text that cannot fit in its column");
    EXPECT_EQ(view.cutTextAt(QPoint(10, second.center().y())), "");
    EXPECT_EQ(view.cutTextAt(QPoint(130, second.center().y())), "");

    // The current row gets a frame while the list has the keyboard focus, and only then.
    view.setCurrentItem(whole);
    view.activateWindow();
    view.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.hasFocus(); }));
    QImage focused(view.viewport()->size(), QImage::Format_RGB32);
    view.viewport()->render(&focused);
    EXPECT_TRUE(darkIn(focused, QRect(300, second.top(), 60, 1)));   // the frame's top edge, past the texts
    EXPECT_FALSE(darkIn(unfocused, QRect(300, second.top(), 60, 1)));
    EXPECT_FALSE(darkIn(focused, QRect(300, first.top(), 60, 1)));
}

TEST(UTF8ListView, AScreenReaderReadsCellsCaptionsAndTicks) {
    UTF8ListView view;
    view.setAccessibleName("Variants");
    view.setCheckBoxes(true);
    view.addColumn(150, Qt::AlignLeft, "Language");
    view.addColumn(30, Qt::AlignRight, "Queued");
    view.headerItem()->setText(1, QString());  // a column headed by an image
    QTreeWidgetItem* row = view.addRow("Deutsch", nullptr);
    view.setCellText(row, 1, "3");
    render(view);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->text(QAccessible::Name), "Variants");
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    QAccessibleInterface* cell = table->cellAt(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "Deutsch");
    EXPECT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), "3");
    // The headings come first among the list's children: the image column is named too.
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), "Queued");
    EXPECT_TRUE(cell->state().checkable);
    EXPECT_FALSE(cell->state().checked);
    EXPECT_EQ(cell->text(QAccessible::Description), "not checked");  // heard also where "checkable" is not
    view.setRowChecked(row, true);
    EXPECT_TRUE(table->cellAt(0, 0)->state().checked);
    // A tick set through the model, as an assistive technology sets it, is a tick.
    QSignalSpy changed(&view, &UTF8ListView::rowChanged);
    view.model()->setData(view.model()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_FALSE(view.isRowChecked(row));
    EXPECT_EQ(changed.count(), 1);
    // So is the cell's "Toggle", both ways, and it leaves the selection alone.
    QAccessibleActionInterface* actions = table->cellAt(0, 0)->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(view.isRowChecked(row));
    table->cellAt(0, 0)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(view.isRowChecked(row));
    EXPECT_EQ(changed.count(), 3);
    EXPECT_FALSE(row->isSelected());
}
