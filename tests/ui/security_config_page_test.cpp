#include "ui/security_config_page.h"

#include "table_page_fixture.h"

#include <QTest>

namespace vantoro::ui {
namespace {

using namespace testing;

class SecurityConfigPageTest : public TablePageTest<SecurityConfigPage, TableIds{1039, 1000, 1001, 1042, 1060}> {
protected:
    QLineEdit* PasswordEdit() { return TextEdit(); }
    QCheckBox* ViewImage() { return Control<QCheckBox>(&page, 1088); }
    QCheckBox* Adjust() { return Control<QCheckBox>(&page, 1089); }

    std::uint32_t Permissions(const CameraEntry* camera, int row)
    {
        return LoadLe32(camera->user->data() + UserRow(row) + 52);
    }
};

TEST_F(SecurityConfigPageTest, RegistersItselfAsThePageWindow)
{
    EXPECT_EQ(state.security_page.data(), &page);
}

TEST_F(SecurityConfigPageTest, BeforeAnyLoginThePageStaysInert)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "pw", 0);
    CameraEntry* camera = File(users); // known, but nobody logged in
    const Frame before = *camera->user;
    page.OnSetActive();
    EXPECT_EQ(List()->count(), 0);
    for (QWidget* w : {static_cast<QWidget*>(List()), static_cast<QWidget*>(NameEdit()),
                       static_cast<QWidget*>(PasswordEdit()), static_cast<QWidget*>(AddButton()),
                       static_cast<QWidget*>(DeleteButton())})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(ViewImage()->isEnabled());
    ViewImage()->click();
    Adjust()->click();
    EXPECT_TRUE(ViewImage()->isChecked());
    EXPECT_EQ(*camera->user, before);
}

TEST_F(SecurityConfigPageTest, RefreshEnablesAndListsRowsUpToTheFirstFreeRow)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "viewer", "v1", 0x100);
    PutUser(users, 2, "operator", "o1", 0x300);
    CameraEntry* camera = LogIn(users);
    EXPECT_EQ(Lines(List()), QStringList{"name: viewer   password: v1"});
    for (int id : {1039, 1000, 1001, 1042, 1060})
        EXPECT_TRUE(Control(&page, id)->isEnabled()) << id;
    EXPECT_EQ(List()->CurSel(), -1);

    Add("guest", "g1");
    EXPECT_EQ(TextAt(*camera->user, UserRow(1), 32), "guest");
    EXPECT_EQ(TextAt(*camera->user, UserRow(1) + 32, 20), "g1");
    EXPECT_EQ(Lines(List()), (QStringList{"name: guest   password: g1", "name: viewer   password: v1"}));
    EXPECT_EQ(List()->CurSel(), -1);
    EXPECT_EQ(NameEdit()->text(), QStringLiteral("guest")); // the fields keep their text
    EXPECT_EQ(TextAt(*camera->user, UserRow(2), 32), "operator");

    page.OnSetActive();
    EXPECT_EQ(Lines(List()), (QStringList{"name: guest   password: g1", "name: operator   password: o1",
                                          "name: viewer   password: v1"}));
}

TEST_F(SecurityConfigPageTest, NamesMatchWithoutRegardToCase)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a1", 0x000);
    PutUser(users, 1, "ADMIN", "a2", 0x300);
    PutUser(users, 2, "zed", "z", 0x100);
    CameraEntry* camera = LogIn(users);
    Select("name: admin   password: a1");
    // The last row carrying the name decides what the boxes show.
    EXPECT_TRUE(ViewImage()->isChecked());
    EXPECT_TRUE(Adjust()->isChecked());

    Frame expected = *camera->user;
    expected[UserRow(0)] = 0;
    expected[UserRow(1)] = 0;
    DeleteButton()->click();
    EXPECT_EQ(*camera->user, expected); // only the first byte of each name
    EXPECT_EQ(Lines(List()), (QStringList{"name: ADMIN   password: a2", "name: zed   password: z"}));
    EXPECT_EQ(List()->CurSel(), -1);
}

TEST_F(SecurityConfigPageTest, DuplicateNamesAreShownByTheLastAndWrittenTogether)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "a", "1", 0);
    PutUser(users, 1, "b", "1", 0);
    PutUser(users, 2, "guest", "g2", 0x1100);
    PutUser(users, 3, "c", "1", 0);
    PutUser(users, 4, "d", "1", 0);
    PutUser(users, 5, "guest", "g5", 0x2222);
    CameraEntry* camera = LogIn(users);
    Select("name: guest   password: g2");
    EXPECT_FALSE(ViewImage()->isChecked()); // row 5: 0x2222
    EXPECT_TRUE(Adjust()->isChecked());

    ViewImage()->click();
    EXPECT_EQ(Permissions(camera, 2), 0x300u);
    EXPECT_EQ(Permissions(camera, 5), 0x322u);
    EXPECT_EQ(Permissions(camera, 0), 0u);

    DeleteButton()->click();
    EXPECT_EQ(camera->user->at(UserRow(2)), 0);
    EXPECT_EQ(camera->user->at(UserRow(5)), 0);
    EXPECT_EQ(TextAt(*camera->user, UserRow(5) + 1, 31), "uest");
    EXPECT_EQ(Lines(List()).count(QStringLiteral("name: guest   password: g5")), 1);
    EXPECT_EQ(Lines(List()).count(QStringLiteral("name: guest   password: g2")), 0);
}

TEST_F(SecurityConfigPageTest, CheckBoxesRewriteBitsEightAndNineAndClearTheHighBits)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "low", "1", 0xFF);
    PutUser(users, 1, "full", "1", 0xFFFFFFFF);
    CameraEntry* camera = LogIn(users);

    Select("name: low   password: 1");
    EXPECT_FALSE(ViewImage()->isChecked());
    EXPECT_FALSE(Adjust()->isChecked());
    ViewImage()->click();
    Adjust()->click();
    EXPECT_EQ(Permissions(camera, 0), 0x3FFu);

    Select("name: full   password: 1");
    EXPECT_TRUE(ViewImage()->isChecked());
    EXPECT_TRUE(Adjust()->isChecked());
    ViewImage()->click(); // leaves only Adjust ticked
    EXPECT_EQ(Permissions(camera, 1), 0x2FFu);
    EXPECT_EQ(Permissions(camera, 0), 0x3FFu);
}

TEST_F(SecurityConfigPageTest, AddedUserInheritsTheFreedRowsPermissions)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "old", "1", 0x300);
    PutUser(users, 1, "keep", "1", 0);
    CameraEntry* camera = LogIn(users);
    Select("name: old   password: 1");
    DeleteButton()->click();
    ViewImage()->setChecked(false);
    Adjust()->setChecked(false);
    Add("new", "2");
    EXPECT_EQ(TextAt(*camera->user, UserRow(0), 32), "new");
    EXPECT_EQ(Permissions(camera, 0), 0x300u);
    Select("name: new   password: 2");
    EXPECT_TRUE(ViewImage()->isChecked());
    EXPECT_TRUE(Adjust()->isChecked());
}

TEST_F(SecurityConfigPageTest, FullTableIgnoresAdd)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    for (int row = 0; row < 20; ++row)
        PutUser(users, row, "user" + std::to_string(row), "p", 0);
    CameraEntry* camera = LogIn(users);
    const Frame before = *camera->user;
    Add("late", "p");
    EXPECT_EQ(*camera->user, before);
    EXPECT_EQ(List()->count(), 20);
}

TEST_F(SecurityConfigPageTest, NameWithABlankIsStoredButReadBackAsItsFirstWord)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0x300);
    CameraEntry* camera = LogIn(users);
    Add("two words", "pw");
    EXPECT_EQ(TextAt(*camera->user, UserRow(1), 32), "two words");
    ViewImage()->setChecked(false);
    Adjust()->setChecked(true);
    Select("name: two words   password: pw");
    EXPECT_FALSE(ViewImage()->isChecked()); // no row named "two": boxes untouched
    EXPECT_TRUE(Adjust()->isChecked());
    const Frame before = *camera->user;
    ViewImage()->click();
    DeleteButton()->click();
    EXPECT_EQ(*camera->user, before); // the row stays
    EXPECT_EQ(Lines(List()), QStringList{"name: admin   password: a"});
    page.OnSetActive();
    EXPECT_EQ(List()->count(), 2);
}

TEST_F(SecurityConfigPageTest, AddingTheSameTextsTwiceFillsTwoRows)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0);
    CameraEntry* camera = LogIn(users);
    Add("twin", "t");
    Add("twin", "t");
    EXPECT_EQ(TextAt(*camera->user, UserRow(1), 32), "twin");
    EXPECT_EQ(TextAt(*camera->user, UserRow(2), 32), "twin");
    EXPECT_EQ(Lines(List()).count(QStringLiteral("name: twin   password: t")), 2);
}

TEST_F(SecurityConfigPageTest, WithoutASelectionNothingChanges)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0x100);
    CameraEntry* camera = LogIn(users);
    const Frame before = *camera->user;
    ViewImage()->click();
    Adjust()->click();
    DeleteButton()->click();
    EXPECT_EQ(*camera->user, before);
    EXPECT_EQ(List()->count(), 1);
}

TEST_F(SecurityConfigPageTest, DeleteSelectsNoNeighbourAndLeavesTheBoxesAlone)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "alice", "a", 0x000);
    PutUser(users, 1, "bob", "b", 0x300);
    LogIn(users);
    Select("name: alice   password: a");
    ASSERT_FALSE(ViewImage()->isChecked());
    DeleteButton()->click();
    EXPECT_EQ(List()->CurSel(), -1);
    // bob's bits would show had his line been selected on the way.
    EXPECT_FALSE(ViewImage()->isChecked());
    EXPECT_FALSE(Adjust()->isChecked());
}

TEST_F(SecurityConfigPageTest, FieldsRefuseTextBeyondTheRecordWidths)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0);
    CameraEntry* camera = LogIn(users);
    QTest::keyClicks(NameEdit(), QString(40, QLatin1Char('n')));
    QTest::keyClicks(PasswordEdit(), QString(30, QLatin1Char('p')));
    EXPECT_EQ(NameEdit()->text().size(), 31);
    EXPECT_EQ(PasswordEdit()->text().size(), 19);
    AddButton()->click();
    EXPECT_EQ(TextAt(*camera->user, UserRow(1), 32), std::string(31, 'n'));
    EXPECT_EQ(TextAt(*camera->user, UserRow(1) + 32, 20), std::string(19, 'p'));
    EXPECT_EQ(Permissions(camera, 1), 0u); // the password's NUL stayed inside its field
}

TEST_F(SecurityConfigPageTest, PasswordFieldShowsItsTextInClear)
{
    PasswordEdit()->setText("secret");
    EXPECT_EQ(PasswordEdit()->displayText(), QStringLiteral("secret"));
}

TEST_F(SecurityConfigPageTest, CameraWithoutUserRecordIsNeverTouched)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0);
    LogIn(users);
    ASSERT_EQ(List()->count(), 1);
    CameraEntry* other = File(Reply(CMD_GENERAL_REPLY, kMacB));
    MakeCurrent(other);
    page.ClearAndDisable();
    EXPECT_EQ(List()->count(), 0);
    EXPECT_FALSE(List()->isEnabled());
    EXPECT_FALSE(AddButton()->isEnabled());
    page.AddUser("x", "y");
    page.DeleteSelectedUser();
    EXPECT_EQ(other->user, nullptr);
    EXPECT_EQ(List()->count(), 0);
}

} // namespace
} // namespace vantoro::ui
