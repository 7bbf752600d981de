#include "ui/template_builder.h"

#include "ui/sorted_list_box.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vantoro::ui {
namespace {

struct Expected {
    int id;
    const char* text;
    bool enabled;
};

QString VisibleText(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return QString();
}

std::unique_ptr<QWidget> Build(const DialogTemplate& t)
{
    auto w = std::make_unique<QWidget>();
    BuildFromTemplate(t, w.get());
    return w;
}

void ExpectControls(const DialogTemplate& t, const std::vector<Expected>& expected)
{
    auto w = Build(t);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        QWidget* c = Control(w.get(), e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(VisibleText(c), QString::fromLatin1(e.text));
        EXPECT_EQ(c->isEnabled(), e.enabled);
    }
    // Nothing more than the template's controls.
    EXPECT_EQ(w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), qsizetype(t.controls.size()));
}

TEST(TemplateControls, NetConfigHasEveryControlWithTextAndInitialState)
{
    ExpectControls(NetConfigTemplate(),
                   {{1034, "CONFIG MODE", true},   {1022, "LAN", true},         {1023, "WAN", true},
                    {1024, "", false},             {1015, "", true},            {1059, "RESET", false},
                    {1035, "", true},              {1017, "ON", false},         {1018, "OFF", false},
                    {1019, "ON", false},           {1020, "OFF", false},        {1016, "Ethernet", true},
                    {1007, "IP ADDRESS", true},    {1003, "", false},           {1010, "SUBNET MASK", true},
                    {1000, "", false},             {1011, "GATEWAY", true},     {1004, "", false},
                    {1027, "BOOTP START IP", true}, {1026, "", false},          {1029, "BOOTP END IP", true},
                    {1028, "", false},             {1025, "PPP", true},         {1014, "IP ADDRESS", true},
                    {1006, "", false},             {1013, "SUBNET MASK", true}, {1005, "", false},
                    {1031, "Client IP Address", true}, {1030, "", false},       {1021, "AUTO   DETECT", true}});
}

TEST(TemplateControls, SecurityConfigHasEveryControlWithTextAndInitialState)
{
    ExpectControls(SecurityConfigTemplate(),
                   {{1039, "", false}, {1000, "", false}, {1040, "USERNAME", true}, {1001, "", false},
                    {1041, "PASSWORD", true}, {1042, "ADD", false}, {1060, "DELETE", false},
                    {1085, "PERMITION", true}, {1088, "View Image", true}, {1089, "Adjust", true}});
}

TEST(TemplateControls, DnsConfigHasEveryControlWithTextAndInitialState)
{
    ExpectControls(DnsConfigTemplate(),
                   {{1045, "", false}, {1047, "", false}, {1061, "DNS", true}, {1046, "DOMAIN NAME", true},
                    {1049, "", false}, {1048, "IP ADDRESS", true}, {1051, "ADD", false}, {1056, "DELETE", false}});
}

TEST(TemplateControls, CameraNamesHasEveryControlWithTextAndInitialState)
{
    ExpectControls(CameraNamesTemplate(),
                   {{1050, "CAMERA 1", true}, {1000, "", false}, {1051, "CAMERA 2", true}, {1001, "", false},
                    {1052, "CAMERA 3", true}, {1002, "", false}, {1053, "CAMERA 4", true}, {1003, "", false}});
    EXPECT_EQ(CameraNamesTemplate().id, 107);
    auto names = Build(CameraNamesTemplate());
    EXPECT_EQ(names->size(), DialogUnitsToPixels(TemplateFont(CameraNamesTemplate()), 0, 0, 187, 91).size());
    EXPECT_TRUE(names->windowTitle().isEmpty());
    for (QWidget* c : names->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(names->rect().contains(c->geometry())) << c->objectName().toStdString();
}

TEST(TemplateControls, DialogsHaveEveryControlAndCaption)
{
    ExpectControls(LoginTemplate(), {{1000, "", true}, {1001, "", true}, {1, "OK", true}});
    ExpectControls(ApplyProgressTemplate(), {{1052, "Setting USER Config.....", true},
                                             {1053, "Setting DOMAIN Config.....", true},
                                             {1054, "Setting CAMERA Config.....", true},
                                             {1055, "Setting GENERAL Config.....", true},
                                             {2, "Cancel", true}});
    EXPECT_EQ(Build(LoginTemplate())->windowTitle(), QStringLiteral("LOGIN"));
    EXPECT_EQ(Build(ApplyProgressTemplate())->windowTitle(), QStringLiteral("Dialog"));
    EXPECT_TRUE(Build(NetConfigTemplate())->windowTitle().isEmpty());
    EXPECT_TRUE(Control<QPushButton>(Build(LoginTemplate()).get(), 1)->isDefault());
}

TEST(TemplateControls, UnlabelledLabelsHaveNoObjectName)
{
    auto login = Build(LoginTemplate());
    QStringList texts;
    for (QLabel* label : login->findChildren<QLabel*>()) {
        EXPECT_TRUE(label->objectName().isEmpty());
        texts << label->text();
    }
    EXPECT_EQ(texts, (QStringList{"Name", "Password"}));
}

TEST(TemplateControls, KindsBecomeTheRightWidgets)
{
    auto net = Build(NetConfigTemplate());
    EXPECT_NE(Control<SortedListBox>(net.get(), 1015), nullptr);
    EXPECT_NE(Control<QRadioButton>(net.get(), 1017), nullptr);
    EXPECT_NE(Control<QRadioButton>(net.get(), 1022), nullptr);
    EXPECT_NE(Control<QGroupBox>(net.get(), 1016), nullptr);
    auto security = Build(SecurityConfigTemplate());
    EXPECT_NE(Control<SortedListBox>(security.get(), 1039), nullptr);
    EXPECT_NE(Control<QCheckBox>(security.get(), 1088), nullptr);
    EXPECT_NE(Control<QLineEdit>(security.get(), 1000), nullptr);
    auto dns = Build(DnsConfigTemplate());
    EXPECT_NE(Control<SortedListBox>(dns.get(), 1045), nullptr);
}

TEST(TemplateFonts, BothTemplateFontsMapToDejaVuSansAtTheirSize)
{
    const QFont net = TemplateFont(NetConfigTemplate());
    EXPECT_EQ(net.family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(net.pointSize(), 8);
    const QFont login = TemplateFont(LoginTemplate());
    EXPECT_EQ(login.family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(login.pointSize(), 10);
    EXPECT_EQ(QFontInfo(login).family(), QStringLiteral("DejaVu Sans"));
}

TEST(TemplateGeometry, DialogUnitsFollowTheFontsAverageLetterAndHeight)
{
    const QFont font = TemplateFont(SecurityConfigTemplate());
    const QFontMetrics m(font);
    const int letters = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int cx = (letters / 26 + 1) / 2;
    const int cy = m.height();
    ASSERT_GT(cx, 0);
    // Four horizontal units per average letter, eight vertical per line.
    EXPECT_EQ(DialogUnitsToPixels(font, 4, 8, 400, 80), QRect(cx, cy, cx * 100, cy * 10));

    auto page = Build(SecurityConfigTemplate());
    EXPECT_EQ(Control(page.get(), 1039)->geometry(), DialogUnitsToPixels(font, 11, 11, 200, 80));
    EXPECT_EQ(Control(page.get(), 1089)->geometry(), DialogUnitsToPixels(font, 132, 145, 70, 13));
    EXPECT_EQ(page->size(), DialogUnitsToPixels(font, 0, 0, 228, 186).size());
    // Controls stay inside the page.
    for (QWidget* c : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(page->rect().contains(c->geometry())) << c->objectName().toStdString();
}

TEST(TemplateLabels, CentredLabelsAreCentredAndOthersNot)
{
    auto net = Build(NetConfigTemplate());
    EXPECT_TRUE(Control<QLabel>(net.get(), 1007)->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(Control<QLabel>(net.get(), 1031)->alignment() & Qt::AlignHCenter);
    QLabel* version = nullptr;
    for (QLabel* label : net->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("Version"))
            version = label;
    ASSERT_NE(version, nullptr);
    EXPECT_FALSE(version->alignment() & Qt::AlignHCenter);
    auto progress = Build(ApplyProgressTemplate());
    for (int id : {1052, 1053, 1054, 1055})
        EXPECT_TRUE(Control<QLabel>(progress.get(), id)->alignment() & Qt::AlignHCenter);
}

TEST(TemplateLabels, EachEditHasTheLabelOfItsRowAsBuddy)
{
    const auto buddy_of_label_id = [](QWidget* parent, int label_id) { return Control<QLabel>(parent, label_id)->buddy(); };
    auto net = Build(NetConfigTemplate());
    const std::pair<int, int> net_pairs[] = {{1007, 1003}, {1010, 1000}, {1011, 1004}, {1027, 1026},
                                            {1029, 1028}, {1014, 1006}, {1013, 1005}, {1031, 1030}};
    for (auto [label, edit] : net_pairs)
        EXPECT_EQ(buddy_of_label_id(net.get(), label), Control(net.get(), edit)) << label;
    for (QLabel* label : net->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("Version")) {
            EXPECT_EQ(label->buddy(), Control(net.get(), 1035));
        }
    }

    auto security = Build(SecurityConfigTemplate());
    EXPECT_EQ(buddy_of_label_id(security.get(), 1040), Control(security.get(), 1000));
    EXPECT_EQ(buddy_of_label_id(security.get(), 1041), Control(security.get(), 1001));
    auto dns = Build(DnsConfigTemplate());
    EXPECT_EQ(buddy_of_label_id(dns.get(), 1046), Control(dns.get(), 1047));
    EXPECT_EQ(buddy_of_label_id(dns.get(), 1048), Control(dns.get(), 1049));
    auto names = Build(CameraNamesTemplate());
    for (int slot = 0; slot < 4; ++slot)
        EXPECT_EQ(buddy_of_label_id(names.get(), 1050 + slot), Control(names.get(), 1000 + slot)) << slot;

    auto login = Build(LoginTemplate());
    for (QLabel* label : login->findChildren<QLabel*>()) {
        const int edit = label->text() == QStringLiteral("Name") ? 1000 : 1001;
        EXPECT_EQ(label->buddy(), Control(login.get(), edit)) << label->text().toStdString();
    }
}

TEST(TemplateLabels, ControlsWithoutLabelHaveAccessibleNames)
{
    auto net = Build(NetConfigTemplate());
    EXPECT_EQ(Control(net.get(), 1024)->accessibleName(), QStringLiteral("WAN address"));
    EXPECT_EQ(Control(net.get(), 1015)->accessibleName(), QStringLiteral("Cameras"));
    EXPECT_EQ(Control(Build(SecurityConfigTemplate()).get(), 1039)->accessibleName(), QStringLiteral("Users"));
    EXPECT_EQ(Control(Build(DnsConfigTemplate()).get(), 1045)->accessibleName(), QStringLiteral("Domain names"));
}

TEST(TemplateEdits, OnlyTheLoginPasswordIsMasked)
{
    auto login = Build(LoginTemplate());
    EXPECT_EQ(Control<QLineEdit>(login.get(), 1001)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Control<QLineEdit>(login.get(), 1000)->echoMode(), QLineEdit::Normal);
    auto security = Build(SecurityConfigTemplate());
    EXPECT_EQ(Control<QLineEdit>(security.get(), 1001)->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(Control<QLineEdit>(security.get(), 1000)->echoMode(), QLineEdit::Normal);
}

TEST(TemplateButtons, PlainRadioButtonsIgnoreClicks)
{
    auto net = Build(NetConfigTemplate());
    auto* on = Control<QRadioButton>(net.get(), 1017);
    auto* off = Control<QRadioButton>(net.get(), 1018);
    on->setEnabled(true);
    off->setEnabled(true);
    EXPECT_FALSE(on->autoExclusive());
    int clicks = 0;
    QObject::connect(on, &QRadioButton::clicked, [&] { ++clicks; });
    on->click();
    EXPECT_FALSE(on->isChecked());
    EXPECT_EQ(clicks, 1); // the page still hears the click
    off->setChecked(true);
    off->click();
    EXPECT_TRUE(off->isChecked());
    on->setChecked(true);
    EXPECT_TRUE(off->isChecked()); // not exclusive: the page unchecks the other
}

TEST(TemplateButtons, GroupStartingRadioButtonsCheckThemselvesOnly)
{
    auto net = Build(NetConfigTemplate());
    auto* lan = Control<QRadioButton>(net.get(), 1022);
    auto* wan = Control<QRadioButton>(net.get(), 1023);
    lan->click();
    EXPECT_TRUE(lan->isChecked());
    lan->click();
    EXPECT_TRUE(lan->isChecked()); // a click never unchecks
    wan->click();
    EXPECT_TRUE(wan->isChecked());
    EXPECT_TRUE(lan->isChecked()); // each is its own group
}

TEST(TemplateButtons, AutomaticCheckBoxesToggleOnClick)
{
    auto security = Build(SecurityConfigTemplate());
    auto* view = Control<QCheckBox>(security.get(), 1088);
    EXPECT_FALSE(view->isChecked());
    view->click();
    EXPECT_TRUE(view->isChecked());
    view->click();
    EXPECT_FALSE(view->isChecked());
}

TEST(TemplateGroupBoxes, LieBehindTheControlsTheyFrame)
{
    auto security = Build(SecurityConfigTemplate());
    // Edit 1000 comes before its group box in template order.
    for (int id : {1000, 1040, 1001, 1042, 1088, 1089}) {
        QWidget* c = Control(security.get(), id);
        c->setEnabled(true);
        QWidget* hit = security->childAt(c->geometry().center());
        ASSERT_NE(hit, nullptr) << id;
        EXPECT_TRUE(hit == c || c->isAncestorOf(hit)) << id;
    }
    auto net = Build(NetConfigTemplate());
    for (int id : {1022, 1024, 1015, 1003, 1006, 1017}) {
        QWidget* c = Control(net.get(), id);
        QWidget* hit = net->childAt(c->geometry().center());
        ASSERT_NE(hit, nullptr) << id;
        EXPECT_TRUE(hit == c || c->isAncestorOf(hit)) << id;
    }
}

} // namespace
} // namespace vantoro::ui
