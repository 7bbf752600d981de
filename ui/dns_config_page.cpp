#include "ui/dns_config_page.h"

#include "link/records.h"
#include "ui/list_line.h"
#include "ui/page_glue.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <mutex>
#include <optional>

namespace vantoro::ui {

namespace {

constexpr int kDomainList = 1045;
constexpr int kDomainName = 1047;
constexpr int kIpAddress = 1049;
constexpr int kAdd = 1051;
constexpr int kDelete = 1056;

// Edits are read as through a 1024-byte buffer.
constexpr int kEditReadLimit = 1023;

} // namespace

DnsConfigPage::DnsConfigPage(UiState& state, QWidget* parent) : SheetPage(parent), state_(state)
{
    BuildFromTemplate(DnsConfigTemplate(), this);
    // The fields refuse more than the record's name and address text can hold.
    Control<QLineEdit>(this, kDomainName)->setMaxLength(int(domain_layout::name_width) - 1);
    Control<QLineEdit>(this, kIpAddress)->setMaxLength(int(domain_layout::ip_text_width) - 1);
    state_.dns_page = this;

    // Selecting a line only marks it for DELETE.
    connect(Control<QPushButton>(this, kAdd), &QPushButton::clicked, this, &DnsConfigPage::AddClicked);
    connect(Control<QPushButton>(this, kDelete), &QPushButton::clicked, this, &DnsConfigPage::DeleteSelectedDomain);
}

void DnsConfigPage::OnSetActive()
{
    RefreshPage(state_, this, state_.current_camera());
}

void DnsConfigPage::EnableDnsControls()
{
    SetControlsEnabled(this, {kDomainList, kDomainName, kIpAddress, kAdd, kDelete}, true);
}

void DnsConfigPage::ClearAndDisable()
{
    Control<SortedListBox>(this, kDomainList)->ResetContent();
    SetControlsEnabled(this, {kDomainList, kDomainName, kIpAddress, kAdd, kDelete}, false);
}

void DnsConfigPage::FillDomainList(const Frame& record)
{
    QStringList lines;
    {
        std::lock_guard guard(state_.link.state.registry.guard());
        const DomainConfigReader domains(record.data());
        // Rows behind the first free row are not listed.
        for (int row : domains.ListedRows())
            lines.append(FormatDomainLine(domains.name(row), domains.ip_text(row)));
    }
    Control<SortedListBox>(this, kDomainList)->ReplaceLines(lines);
}

void DnsConfigPage::AddClicked()
{
    const QString name = Control<QLineEdit>(this, kDomainName)->text().left(kEditReadLimit);
    const QString ip_text = Control<QLineEdit>(this, kIpAddress)->text().left(kEditReadLimit);
    AddDomain(ToRecordText(name), ToRecordText(ip_text));
}

void DnsConfigPage::AddDomain(const std::string& name, const std::string& ip_text)
{
    CameraEntry* camera = state_.current_camera();
    if (!camera)
        return;
    QString line;
    {
        std::lock_guard guard(state_.link.state.registry.guard());
        if (!camera->domain)
            return;
        DomainConfig domains(camera->domain->data());
        const int row = domains.AddDomain(name, ip_text);
        if (row < 0)
            return; // full table: ignored without a word
        line = FormatDomainLine(domains.name(row), domains.ip_text(row));
    }
    Control<SortedListBox>(this, kDomainList)->AddString(line);
}

void DnsConfigPage::DeleteSelectedDomain()
{
    auto* list = Control<SortedListBox>(this, kDomainList);
    const int selected = list->CurSel();
    if (selected < 0)
        return;
    const std::optional<std::string> name = list->SelectedLineName();
    CameraEntry* camera = state_.current_camera();
    if (name && camera) {
        std::lock_guard guard(state_.link.state.registry.guard());
        if (camera->domain)
            DomainConfig(camera->domain->data()).DeleteByName(*name);
    }
    // The line goes even when it matched no row.
    list->DeleteString(selected);
}

} // namespace vantoro::ui
