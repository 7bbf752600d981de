#pragma once
// The DNS Config page (template 106): the current camera's domain table as one
// line per entry, with ADD and DELETE. Every change goes at once into the
// camera's DomainConfig; there is nothing to collect.

#include "link/config_frame.h"
#include "ui/sheet_page.h"

#include <string>

namespace vantoro::ui {

struct UiState;

class DnsConfigPage final : public SheetPage {
    Q_OBJECT
public:
    // Builds the page and registers it as state.dns_page.
    explicit DnsConfigPage(UiState& state, QWidget* parent = nullptr);

    void OnSetActive() override; // RefreshPage(this, current camera)

    // Operations of RefreshPage. record is the current camera's DomainConfig
    // inside the registry; each operation takes the registry's guard itself,
    // only around its record access.
    void EnableDnsControls();
    void FillDomainList(const Frame& record);
    // For a current camera without a DomainConfig: empties the list and
    // disables what EnableDnsControls enables, so no other camera's table shows.
    void ClearAndDisable();

    // The page's own actions, on the current camera's DomainConfig. Without
    // that record they touch nothing.
    void AddDomain(const std::string& name, const std::string& ip_text);
    void DeleteSelectedDomain();

private:
    void AddClicked();

    UiState& state_;
};

} // namespace vantoro::ui
