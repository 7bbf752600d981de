#include "ui/dns_config_page.h"

#include "table_page_fixture.h"

#include <QTest>

namespace vantoro::ui {
namespace {

using namespace testing;

class DnsConfigPageTest : public TablePageTest<DnsConfigPage, TableIds{1045, 1047, 1049, 1051, 1056}> {
protected:
    QLineEdit* IpEdit() { return TextEdit(); }

    void ExpectWorkingControlsEnabled(bool enabled)
    {
        for (int id : {1045, 1047, 1049, 1051, 1056})
            EXPECT_EQ(Control(&page, id)->isEnabled(), enabled) << id;
        for (int id : {1061, 1046, 1048})
            EXPECT_TRUE(Control(&page, id)->isEnabled()) << id;
    }
};

TEST_F(DnsConfigPageTest, RegistersItselfAsThePageWindow)
{
    EXPECT_EQ(state.dns_page.data(), &page);
}

TEST_F(DnsConfigPageTest, BeforeAnyLoginThePageStaysInert)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "cam.local", "127.0.0.5");
    File(domains);
    page.OnSetActive();
    EXPECT_EQ(List()->count(), 0);
    ExpectWorkingControlsEnabled(false);
}

TEST_F(DnsConfigPageTest, CameraWithoutDomainRecordLeavesThePageInertUntilItArrives)
{
    Frame users = Reply(CMD_USER_REPLY, kMacA);
    PutUser(users, 0, "admin", "a", 0);
    MakeCurrent(File(users));
    page.OnSetActive();
    EXPECT_EQ(List()->count(), 0);
    ExpectWorkingControlsEnabled(false);

    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "late.example", "127.0.0.6");
    File(domains); // the reply arrives afterwards, for the same camera
    page.OnSetActive();
    ExpectWorkingControlsEnabled(true);
    EXPECT_EQ(Lines(List()), QStringList{"name: late.example   ip: 127.0.0.6"});
}

TEST_F(DnsConfigPageTest, RowsBehindAFreeRowAreKeptAndAddFillsTheFreeRow)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "zeta.example", "127.0.0.1");
    PutDomain(domains, 2, "beta.example", "127.0.0.2");
    CameraEntry* camera = LogIn(domains);
    ExpectWorkingControlsEnabled(true);
    EXPECT_EQ(Lines(List()), QStringList{"name: zeta.example   ip: 127.0.0.1"});

    Add("Alpha.example", "127.0.0.3");
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1), 80), "Alpha.example");
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1) + 80, 24), "127.0.0.3");
    EXPECT_EQ(List()->CurSel(), -1);
    EXPECT_EQ(IpEdit()->text(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(camera->domain->at(1100), 0xA5); // unnamed bytes travel on unchanged

    page.OnSetActive();
    EXPECT_EQ(Lines(List()), (QStringList{"name: Alpha.example   ip: 127.0.0.3", "name: beta.example   ip: 127.0.0.2",
                                          "name: zeta.example   ip: 127.0.0.1"}));
}

TEST_F(DnsConfigPageTest, DeleteFreesEveryRowOfTheNameWhateverItsCase)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "cam.example", "127.0.0.1");
    PutDomain(domains, 1, "CAM.EXAMPLE", "127.0.0.2");
    PutDomain(domains, 2, "other", "127.0.0.3");
    CameraEntry* camera = LogIn(domains);
    Frame expected = *camera->domain;
    expected[DomainRow(0)] = 0;
    expected[DomainRow(1)] = 0;
    Select("name: CAM.EXAMPLE   ip: 127.0.0.2");
    DeleteButton()->click();
    EXPECT_EQ(*camera->domain, expected);
    EXPECT_EQ(Lines(List()), (QStringList{"name: cam.example   ip: 127.0.0.1", "name: other   ip: 127.0.0.3"}));
    EXPECT_EQ(List()->CurSel(), -1);
}

TEST_F(DnsConfigPageTest, FullTableIgnoresAdd)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    for (int row = 0; row < 10; ++row)
        PutDomain(domains, row, "host" + std::to_string(row), "127.0.0.1");
    CameraEntry* camera = LogIn(domains);
    const Frame before = *camera->domain;
    Add("late", "127.0.0.2");
    EXPECT_EQ(*camera->domain, before);
    EXPECT_EQ(List()->count(), 10);
}

TEST_F(DnsConfigPageTest, EmptyAddressIsStoredAndListedAsEmpty)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "first", "127.0.0.1");
    domains[DomainRow(1) + 80] = 'X'; // a stale address behind a free row
    CameraEntry* camera = LogIn(domains);
    Add("noaddr", "");
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1), 80), "noaddr");
    EXPECT_EQ(camera->domain->at(DomainRow(1) + 80), 0);
    EXPECT_TRUE(Lines(List()).contains(QStringLiteral("name: noaddr   ip: ")));
}

TEST_F(DnsConfigPageTest, AddressTextIsStoredAsTyped)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "first", "127.0.0.1");
    CameraEntry* camera = LogIn(domains);
    Add("odd", "not an address");
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1) + 80, 24), "not an address");
}

TEST_F(DnsConfigPageTest, SelectingALineChangesNothing)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "a.example", "127.0.0.1");
    PutDomain(domains, 1, "b.example", "127.0.0.2");
    CameraEntry* camera = LogIn(domains);
    const Frame before = *camera->domain;
    const QStringList lines = Lines(List());
    Select("name: b.example   ip: 127.0.0.2");
    EXPECT_EQ(*camera->domain, before);
    EXPECT_EQ(Lines(List()), lines);
    EXPECT_TRUE(NameEdit()->text().isEmpty());
    ExpectWorkingControlsEnabled(true);
}

TEST_F(DnsConfigPageTest, WithoutASelectionDeleteChangesNothing)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "a.example", "127.0.0.1");
    CameraEntry* camera = LogIn(domains);
    const Frame before = *camera->domain;
    DeleteButton()->click();
    EXPECT_EQ(*camera->domain, before);
    EXPECT_EQ(List()->count(), 1);
}

TEST_F(DnsConfigPageTest, NameWithABlankLosesItsLineButKeepsItsRow)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "my camera", "127.0.0.1");
    PutDomain(domains, 1, "other", "127.0.0.2");
    CameraEntry* camera = LogIn(domains);
    const Frame before = *camera->domain;
    Select("name: my camera   ip: 127.0.0.1");
    DeleteButton()->click();
    EXPECT_EQ(*camera->domain, before);
    EXPECT_EQ(Lines(List()), QStringList{"name: other   ip: 127.0.0.2"});
    page.OnSetActive();
    EXPECT_EQ(List()->count(), 2);
}

TEST_F(DnsConfigPageTest, FieldsRefuseTextBeyondTheRecordWidths)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "a", "1");
    CameraEntry* camera = LogIn(domains);
    QTest::keyClicks(NameEdit(), QString(90, QLatin1Char('d')));
    QTest::keyClicks(IpEdit(), QString(30, QLatin1Char('9')));
    EXPECT_EQ(NameEdit()->text().size(), 79);
    EXPECT_EQ(IpEdit()->text().size(), 23);
    AddButton()->click();
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1), 80), std::string(79, 'd'));
    EXPECT_EQ(TextAt(*camera->domain, DomainRow(1) + 80, 24), std::string(23, '9'));
    EXPECT_EQ(camera->domain->at(DomainRow(2)), 0); // nothing spilled into the next row
}

TEST_F(DnsConfigPageTest, CameraWithoutDomainRecordIsNeverTouched)
{
    Frame domains = Reply(CMD_DOMAIN_REPLY, kMacA);
    PutDomain(domains, 0, "a", "1");
    LogIn(domains);
    CameraEntry* other = File(Reply(CMD_USER_REPLY, kMacB));
    MakeCurrent(other);
    page.ClearAndDisable();
    EXPECT_EQ(List()->count(), 0);
    ExpectWorkingControlsEnabled(false);
    page.AddDomain("x", "y");
    page.DeleteSelectedDomain();
    EXPECT_EQ(other->domain, nullptr);
}

} // namespace
} // namespace vantoro::ui
