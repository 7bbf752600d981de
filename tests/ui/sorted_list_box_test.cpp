#include "ui/sorted_list_box.h"

#include <QSignalSpy>
#include <QTest>

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace vantoro::ui {
namespace {

QStringList Lines(const SortedListBox& list)
{
    QStringList lines;
    for (int i = 0; i < list.count(); ++i)
        lines << list.Text(i);
    return lines;
}

TEST(SortedListBox, KeepsCaseInsensitiveOrderForEveryInsertionOrder)
{
    // In plain byte order "Carol" would come first and "ALICE" before "Alice".
    std::vector<QString> lines = {"name: bob   password: b", "name: alice   password: a", "name: Carol   password: c",
                                  "name: ALICE   password: a"};
    std::sort(lines.begin(), lines.end());
    do {
        SortedListBox list;
        for (const QString& line : lines)
            list.AddString(line);
        // Case decides only between lines that are otherwise equal.
        EXPECT_EQ(Lines(list), (QStringList{"name: ALICE   password: a", "name: alice   password: a",
                                            "name: bob   password: b", "name: Carol   password: c"}));
    } while (std::next_permutation(lines.begin(), lines.end()));
}

TEST(SortedListBox, HardwareAddressLinesSortAscending)
{
    SortedListBox list;
    list.AddString("00 0A 00 00 00 01");
    list.AddString("00 02 00 00 00 FF");
    list.AddString("00 02 00 00 00 10");
    EXPECT_EQ(Lines(list), (QStringList{"00 02 00 00 00 10", "00 02 00 00 00 FF", "00 0A 00 00 00 01"}));
}

TEST(SortedListBox, AddStringReturnsTheIndexWhereTheLineWent)
{
    SortedListBox list;
    EXPECT_EQ(list.AddString("m"), 0);
    EXPECT_EQ(list.AddString("Z"), 1);
    EXPECT_EQ(list.AddString("a"), 0);
    EXPECT_EQ(list.AddString("m"), 2); // an equal line goes after its twin
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(list.Text(9), QString());
}

TEST(SortedListBox, SelectionIsSingleAndReportedHoweverItChanges)
{
    SortedListBox list;
    list.AddString("b");
    list.AddString("a");
    list.AddString("c");
    list.resize(200, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
    QSignalSpy spy(&list, &SortedListBox::SelectionChanged);
    EXPECT_EQ(list.CurSel(), -1);

    list.setCurrentRow(1);
    EXPECT_EQ(list.CurSel(), 1);
    EXPECT_EQ(spy.count(), 1);

    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.CurSel(), 2);
    EXPECT_EQ(spy.count(), 2);

    const QRect first = list.visualItemRect(list.item(0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
    EXPECT_EQ(list.CurSel(), 0);
    EXPECT_EQ(spy.count(), 3);
    EXPECT_EQ(list.selectedItems().size(), 1);
}

TEST(SortedListBox, RepaintIntervalHoldsPaintingBackButNotTheLines)
{
    SortedListBox list;
    list.SetRepaintInterval(30);
    list.show();
    for (int i = 99; i >= 0; --i)
        list.AddString(QString::asprintf("00 0A 0B 00 00 %02X", i));
    // Every line is there and in order at once; only painting waits.
    ASSERT_EQ(list.count(), 100);
    EXPECT_EQ(list.Text(0), QStringLiteral("00 0A 0B 00 00 00"));
    EXPECT_EQ(list.Text(99), QStringLiteral("00 0A 0B 00 00 63"));
    EXPECT_FALSE(list.updatesEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.updatesEnabled(); }, 5000));

    SortedListBox plain;
    plain.show();
    plain.AddString(QStringLiteral("a"));
    EXPECT_TRUE(plain.updatesEnabled()) << "without an interval every line is painted at once";
}

TEST(SortedListBox, DeletingAndResettingLeaveNothingSelected)
{
    SortedListBox list;
    for (const char* line : {"c", "a", "b"})
        list.AddString(line);
    list.setCurrentRow(1);
    QSignalSpy spy(&list, &SortedListBox::SelectionChanged);
    list.DeleteString(1);
    EXPECT_EQ(Lines(list), (QStringList{"a", "c"}));
    EXPECT_EQ(list.CurSel(), -1);
    EXPECT_EQ(list.currentRow(), -1) << "no neighbour is left current either";
    list.DeleteString(5); // out of range: nothing happens
    EXPECT_EQ(list.count(), 2);
    list.setCurrentRow(0);
    spy.clear();
    list.ResetContent();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.CurSel(), -1);
    // Removing lines is never a selection change.
    EXPECT_EQ(spy.count(), 0);
}

} // namespace
} // namespace vantoro::ui
