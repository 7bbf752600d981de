#pragma once
// The DNS Config page (template 106): the current camera's domain table as one
// line per entry, with ADD and DELETE. Every change goes at once into the
// camera's DomainConfig; there is nothing to collect.

#include "ui/table_page.h"

namespace vantoro::ui {

class DnsConfigPage final : public TablePage {
    Q_OBJECT
public:
    // Builds the page and registers it as state.dns_page.
    explicit DnsConfigPage(UiState& state, QWidget* parent = nullptr);

    void AddDomain(const std::string& name, const std::string& ip_text) { AddRow(name, ip_text); }
    void DeleteSelectedDomain() { DeleteSelectedRow(); }

protected:
    QStringList ListedLines(const Frame& record) const override;
    std::optional<QString> AddToRecord(Frame& record, const std::string& name,
                                       const std::string& ip_text) const override;
    void DeleteFromRecord(Frame& record, const std::string& name) const override;
};

} // namespace vantoro::ui
