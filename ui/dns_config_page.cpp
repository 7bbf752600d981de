#include "ui/dns_config_page.h"

#include "link/records.h"
#include "ui/dialog_template.h"
#include "ui/list_line.h"
#include "ui/ui_state.h"

namespace vantoro::ui {

namespace {

constexpr TableLayout kLayout{
    .record = RecordSlot::Domain,
    .list = 1045,
    .name_edit = 1047,
    .text_edit = 1049,
    .add = 1051,
    .remove = 1056,
    .name_width = domain_layout::name_width,
    .text_width = domain_layout::ip_text_width,
    .working_controls = {1045, 1047, 1049, 1051, 1056},
};

} // namespace

DnsConfigPage::DnsConfigPage(UiState& state, QWidget* parent) : TablePage(state, DnsConfigTemplate(), kLayout, parent)
{
    state_.dns_page = this;
}

QStringList DnsConfigPage::ListedLines(const Frame& record) const
{
    QStringList lines;
    const DomainConfigReader domains(record.data());
    for (int row : domains.ListedRows())
        lines.append(FormatDomainLine(domains.name(row), domains.ip_text(row)));
    return lines;
}

std::optional<QString> DnsConfigPage::AddToRecord(Frame& record, const std::string& name,
                                                  const std::string& ip_text) const
{
    DomainConfig domains(record.data());
    const int row = domains.AddDomain(name, ip_text);
    if (row < 0)
        return std::nullopt;
    return FormatDomainLine(domains.name(row), domains.ip_text(row));
}

void DnsConfigPage::DeleteFromRecord(Frame& record, const std::string& name) const
{
    DomainConfig(record.data()).DeleteByName(name);
}

} // namespace vantoro::ui
