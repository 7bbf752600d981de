#include "ui/net_config_page.h"

#include "link/records.h"
#include "ui/camera_names_page.h"
#include "ui/list_line.h"
#include "ui/login_dialog.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "util/dotted_address.h"
#include "util/mac_text.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <mutex>
#include <string>

namespace vantoro::ui {

namespace {

// Control ids of template 101.
constexpr int kEthernetMask = 1000;
constexpr int kEthernetIp = 1003;
constexpr int kGateway = 1004;
constexpr int kPppMask = 1005;
constexpr int kPppIp = 1006;
constexpr int kCameraList = 1015;
constexpr int kServerOn = 1017;
constexpr int kServerOff = 1018;
constexpr int kBootpOn = 1019;
constexpr int kBootpOff = 1020;
constexpr int kAutoDetect = 1021;
constexpr int kLan = 1022;
constexpr int kWan = 1023;
constexpr int kWanAddress = 1024;
constexpr int kBootpStart = 1026;
constexpr int kBootpEnd = 1028;
constexpr int kPppClientIp = 1030;
constexpr int kVersion = 1035;
constexpr int kReset = 1059;

// Edits are read with a 1024-byte buffer, as the page always has.
constexpr qsizetype kEditReadLimit = 1023;

// AUTO DETECT collects answers this long, and sends its burst again while
// answers were dropped.
constexpr std::chrono::milliseconds kSearchWindow{1000};

// How often a general record that has not come yet is looked for.
constexpr int kLateRecordCheckMs = 50;

// The controls of a network field: an address's edit, or a switch's ON and OFF buttons.
struct FieldControls {
    int edit_or_on;
    int off = 0;
};

FieldControls ControlsOf(NetworkFieldId id)
{
    switch (id) {
    case NetworkFieldId::EthernetIp: return {kEthernetIp};
    case NetworkFieldId::EthernetMask: return {kEthernetMask};
    case NetworkFieldId::Gateway: return {kGateway};
    case NetworkFieldId::BootpStart: return {kBootpStart};
    case NetworkFieldId::BootpEnd: return {kBootpEnd};
    case NetworkFieldId::Server: return {kServerOn, kServerOff};
    case NetworkFieldId::Bootp: return {kBootpOn, kBootpOff};
    case NetworkFieldId::PppIp: return {kPppIp};
    case NetworkFieldId::PppMask: return {kPppMask};
    case NetworkFieldId::PppClientIp: return {kPppClientIp};
    }
    return {};
}

QString DottedText(std::uint32_t word)
{
    char text[16];
    FormatDottedAddress(text, word);
    return QString::fromLatin1(text);
}

} // namespace

QString FormatMacLine(const MacAddress& mac)
{
    return QString::fromStdString(MacTableText(mac));
}

MacAddress ScanMacLine(const QString& line)
{
    return ParseMac(line.toStdString()).value_or(MacAddress{});
}

void ShowNotice(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

NetConfigPage::NetConfigPage(UiState& state, QWidget* parent) : SheetPage(parent), state_(state)
{
    BuildFromTemplate(NetConfigTemplate(), this);
    state_.net_page = this;
    SetWanMode(false);
    // Control 1024 keeps its template state (disabled) until WAN is chosen.

    // A search of a large fleet lists one camera per turn of the event loop,
    // and the receiver waits for each. So the list does as little as it can
    // per line: every line has the same fixed form (no measuring each line
    // again), it lays lines out in batches rather than all of them after
    // every insert, and it is painted at most every 30 ms while lines come.
    auto* cameras = Control<SortedListBox>(this, kCameraList);
    cameras->setUniformItemSizes(true);
    cameras->setLayoutMode(QListView::Batched);
    cameras->SetRepaintInterval(30);
    // A click, Space or Enter on the selected line logs in again, as after a
    // "Login fail" with only one camera listed.
    cameras->SetReportsReselection(true);
    connect(cameras, &SortedListBox::SelectionChanged, this, &NetConfigPage::Login);
    connect(cameras, &SortedListBox::Reselected, this, &NetConfigPage::Login);
    const auto on_click = [this](int id, auto handler) {
        connect(Control<QAbstractButton>(this, id), &QAbstractButton::clicked, this, handler);
    };
    on_click(kServerOn, [this] { CheckPair(kServerOn, kServerOff); });
    on_click(kServerOff, [this] { CheckPair(kServerOff, kServerOn); });
    on_click(kBootpOn, [this] { CheckPair(kBootpOn, kBootpOff); });
    on_click(kBootpOff, [this] { CheckPair(kBootpOff, kBootpOn); });
    // A search that lost answers searches again by itself (CameraLink::Search).
    on_click(kAutoDetect, [this] {
        SearchRequest search;
        search.window = kSearchWindow;
        state_.link.Search(search);
    });
    on_click(kLan, [this] {
        SetWanMode(false);
        Control(this, kWanAddress)->setEnabled(false);
    });
    on_click(kWan, [this] {
        SetWanMode(true);
        Control(this, kWanAddress)->setEnabled(true);
    });
    on_click(kReset, [this] { Reset(); });

    late_record_check_.setInterval(kLateRecordCheckMs);
    connect(&late_record_check_, &QTimer::timeout, this, &NetConfigPage::CheckLateGeneralRecord);
}

void NetConfigPage::SetWanMode(bool on)
{
    state_.link.SetWanMode(on);
    CheckPair(on ? kWan : kLan, on ? kLan : kWan);
}

void NetConfigPage::CheckPair(int checked_id, int unchecked_id)
{
    Control<QAbstractButton>(this, checked_id)->setChecked(true);
    Control<QAbstractButton>(this, unchecked_id)->setChecked(false);
}

void NetConfigPage::Refresh()
{
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    if (const auto general = state_.record_of(*camera, RecordSlot::General)) {
        EnableNetControls();
        FillNetFields(*general);
    } else {
        ClearAndDisableFields();
    }
}

void NetConfigPage::Collect()
{
    // After a login to a camera whose general record had not come the fields
    // are empty, and would put 0.0.0.0 into every address and both switches
    // off, which the apply would send.
    if (!fields_filled_)
        return;
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    const NetValues values = ReadNetFields();
    state_.link.EditRecord(*camera, RecordSlot::General, [&](Frame& general) { WriteNetValues(general, values); });
}

void NetConfigPage::HandleCameraFound(const MacAddress& mac)
{
    Control<SortedListBox>(this, kCameraList)->AddString(FormatMacLine(mac));
}

QString NetConfigPage::WanAddressText() const
{
    return Control<QLineEdit>(this, kWanAddress)->text();
}

void NetConfigPage::EnableNetControls()
{
    SetControlsEnabled(this,
                       {kEthernetMask, kEthernetIp, kGateway, kPppMask, kPppIp, kCameraList, kServerOn, kServerOff,
                        kBootpOn, kBootpOff, kAutoDetect, kLan, kWan, kBootpStart, kBootpEnd, kPppClientIp},
                       true);
}

void NetConfigPage::ClearAndDisableFields()
{
    for (int id : {kEthernetIp, kEthernetMask, kGateway, kBootpStart, kBootpEnd, kPppIp, kPppMask, kPppClientIp})
        Control<QLineEdit>(this, id)->clear();
    for (int id : {kServerOn, kServerOff, kBootpOn, kBootpOff})
        Control<QAbstractButton>(this, id)->setChecked(false);
    SetControlsEnabled(this,
                       {kEthernetMask, kEthernetIp, kGateway, kPppMask, kPppIp, kServerOn, kServerOff, kBootpOn,
                        kBootpOff, kBootpStart, kBootpEnd, kPppClientIp},
                       false);
    fields_filled_ = false;
}

void NetConfigPage::FillNetFields(const Frame& record)
{
    // A later search carries this record's bytes.
    state_.camera.LoadFrameImage(record);
    const GeneralConfigReader g(record.data());
    for (const NetworkField& field : kNetworkFields) {
        const std::uint32_t word = g.network_word(field.offset);
        const FieldControls controls = ControlsOf(field.id);
        if (field.kind == NetworkFieldKind::Address) {
            Control<QLineEdit>(this, controls.edit_or_on)->setText(DottedText(word));
        } else {
            const bool on = word != 0;
            CheckPair(on ? controls.edit_or_on : controls.off, on ? controls.off : controls.edit_or_on);
        }
    }
    fields_filled_ = true;
}

NetConfigPage::NetValues NetConfigPage::ReadNetFields() const
{
    // One byte per character, so the parser's length limit counts characters.
    const auto parse = [this](int id) {
        const std::string text = ToRecordText(Control<QLineEdit>(this, id)->text().left(kEditReadLimit));
        return ParseDottedAddress(text.c_str());
    };
    const auto checked = [this](int id) { return Control<QAbstractButton>(this, id)->isChecked(); };
    // In table order: each parse may print its diagnostic line.
    NetValues v{};
    for (const NetworkField& field : kNetworkFields) {
        const int control = ControlsOf(field.id).edit_or_on;
        v[std::size_t(field.id)] = field.kind == NetworkFieldKind::Address ? parse(control) : checked(control) ? 1 : 0;
    }
    return v;
}

void NetConfigPage::WriteNetValues(Frame& record, const NetValues& v)
{
    GeneralConfig g(record.data());
    for (const NetworkField& field : kNetworkFields) {
        const std::uint32_t value = v[std::size_t(field.id)];
        if (field.kind == NetworkFieldKind::Address)
            g.set_network_address(field.offset, value);
        else
            g.set_network_switch(field.offset, value != 0);
    }
}

void NetConfigPage::Login()
{
    auto* list = Control<SortedListBox>(this, kCameraList);
    const int selected = list->CurSel();
    if (selected < 0)
        return;
    const MacAddress mac = ScanMacLine(list->Text(selected));
    // The camera found here is the one logged in to, whatever is filed meanwhile.
    if (!state_.link.Camera(mac))
        return;

    bool prompted = false;
    if (state_.remembered_user.empty()) {
        PromptLogin();
        prompted = true;
    }
    bool accepted = ScanUserTable(mac);
    // Remembered credentials that failed get one fresh prompt.
    if (!accepted && !prompted) {
        PromptLogin();
        accepted = ScanUserTable(mac);
    }
    if (!accepted) {
        ShowNotice(QStringLiteral("Login fail"), QStringLiteral("Warning"));
        return;
    }
    LoginSucceeded(mac);
}

bool NetConfigPage::ScanUserTable(const MacAddress& camera) const
{
    const auto user = state_.record_of(camera, RecordSlot::User);
    return user && UserConfigReader(user->data()).FindLogin(state_.remembered_user, state_.remembered_password) >= 0;
}

void NetConfigPage::PromptLogin()
{
    LoginDialog dialog(state_, this);
    dialog.exec();
}

void NetConfigPage::LoginSucceeded(const MacAddress& camera)
{
    Control(this, kReset)->setEnabled(true);
    ShowVersion(camera);

    state_.camera.Choose(camera);
    state_.reported = state_.link.Camera(camera);
    Refresh();

    // Without its general record the page stays empty until the record comes.
    awaited_camera_ = fields_filled_ ? std::nullopt : std::optional<MacAddress>(camera);
    if (awaited_camera_)
        late_record_check_.start();
    else
        late_record_check_.stop();
}

void NetConfigPage::ShowVersion(const MacAddress& camera)
{
    QString version; // empty while the camera's GeneralConfig has not come
    if (const auto general = state_.record_of(camera, RecordSlot::General))
        version = QString::fromStdString(GeneralConfigReader(general->data()).FirmwareVersionText());
    Control<QLineEdit>(this, kVersion)->setText(version);
}

void NetConfigPage::CheckLateGeneralRecord()
{
    const std::optional<MacAddress> camera = awaited_camera_;
    if (!camera || camera != state_.current_camera()) {
        late_record_check_.stop();
        return;
    }
    if (!state_.record_of(*camera, RecordSlot::General))
        return;
    // Once only: later answers never refill what the page shows.
    late_record_check_.stop();
    awaited_camera_.reset();
    if (state_.reported && state_.reported->mac == *camera && !state_.reported->general)
        state_.reported->general = state_.record_of(*camera, RecordSlot::General);
    ShowVersion(*camera);
    Refresh();
    // The names page, when it is the one shown, is refilled too; otherwise
    // it fills when next shown.
    if (state_.names_page && state_.names_page->isVisible())
        state_.names_page->Refresh();
}

void NetConfigPage::Reset()
{
    // The notice names the camera that is reset: the current one, which may
    // differ from the selected line after a failed login elsewhere.
    QString name;
    if (const auto camera = state_.current_camera()) {
        name = FormatMacLine(*camera);
    } else {
        auto* list = Control<SortedListBox>(this, kCameraList);
        if (list->CurSel() >= 0)
            name = list->Text(list->CurSel());
    }
    const QString message = QStringLiteral("WEBCAMERA [%1] Reseting...").arg(name);
    state_.camera.Reset();
    ShowNotice(message, QStringLiteral("WEBCAMERA CONFIG MESSAGE"));
}

} // namespace vantoro::ui
