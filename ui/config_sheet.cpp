#include "ui/config_sheet.h"

#include "ui/address_warning.h"
#include "ui/apply_progress_dialog.h"
#include "ui/camera_names_page.h"
#include "ui/dialog_template.h"
#include "ui/dns_config_page.h"
#include "ui/net_config_page.h"
#include "ui/security_config_page.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "util/record_text.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace vantoro::ui {

namespace {

QSize TemplateSize(const DialogTemplate& t)
{
    return DialogUnitsToPixels(TemplateFont(t), 0, 0, t.width, t.height).size();
}

} // namespace

std::vector<PageInfo> StandardPages(UiState& state)
{
    std::vector<PageInfo> pages;
    pages.push_back({QStringLiteral("Net Config"), TemplateSize(NetConfigTemplate()),
                     [&state](QWidget* parent) -> SheetPage* { return new NetConfigPage(state, parent); }});
    pages.push_back({QStringLiteral("DNS Config"), TemplateSize(DnsConfigTemplate()),
                     [&state](QWidget* parent) -> SheetPage* { return new DnsConfigPage(state, parent); }});
    pages.push_back({QStringLiteral("Security Config"), TemplateSize(SecurityConfigTemplate()),
                     [&state](QWidget* parent) -> SheetPage* { return new SecurityConfigPage(state, parent); }});
    pages.push_back({QStringLiteral("Camera Names"), TemplateSize(CameraNamesTemplate()),
                     [&state](QWidget* parent) -> SheetPage* { return new CameraNamesPage(state, parent); }});
    return pages;
}

ConfigSheet::ConfigSheet(UiState& state, QWidget* owner) : ConfigSheet(&state, StandardPages(state), owner) {}

ConfigSheet::ConfigSheet(std::vector<PageInfo> pages, QWidget* owner) : ConfigSheet(nullptr, std::move(pages), owner)
{
}

ConfigSheet::ConfigSheet(UiState* state, std::vector<PageInfo> pages, QWidget* owner)
    : QDialog(owner), state_(state), tabs_(new QTabWidget(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this))
{
    setWindowTitle(QStringLiteral("Vantoro Config"));
    for (PageInfo& info : pages) {
        Slot slot{std::move(info)};
        slot.container = new QWidget;
        auto* layout = new QVBoxLayout(slot.container);
        layout->setContentsMargins(0, 0, 0, 0);
        slot.container->setMinimumSize(slot.info.size);
        tabs_->addTab(slot.container, slot.info.title);
        pages_.push_back(std::move(slot));
    }
    // No page ever reports a change, so Apply never becomes usable.
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons_);

    connect(buttons_, &QDialogButtonBox::accepted, this, &ConfigSheet::Ok);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (!pages_.empty()) {
        tabs_->setCurrentIndex(0);
        active_ = 0;
        EnsurePage(0)->OnSetActive();
    }
    connect(tabs_, &QTabWidget::currentChanged, this, &ConfigSheet::TabChanged);
}

SheetPage* ConfigSheet::EnsurePage(int i)
{
    Slot& slot = pages_[std::size_t(i)];
    if (!slot.page) {
        slot.page = slot.info.create(slot.container);
        slot.container->layout()->addWidget(slot.page);
        slot.page->show(); // the container may already be on screen
    }
    return slot.page;
}

void ConfigSheet::TabChanged(int index)
{
    if (index < 0 || index == active_)
        return;
    if (active_ >= 0 && pages_[std::size_t(active_)].page)
        pages_[std::size_t(active_)].page->OnKillActive();
    active_ = index;
    EnsurePage(index)->OnSetActive();
}

void ConfigSheet::Ok()
{
    if (active_ >= 0 && pages_[std::size_t(active_)].page)
        pages_[std::size_t(active_)].page->OnKillActive();
    // Every page that has a window is told.
    for (Slot& slot : pages_) {
        if (slot.page)
            slot.page->OnApply();
    }
    if (!Apply())
        return; // the sheet stays open as it was
    accept();
}

bool ConfigSheet::Apply()
{
    if (!state_ || !state_->current_camera())
        return true;
    const MacAddress camera = *state_->current_camera();
    for (Slot& slot : pages_) {
        if (slot.page)
            slot.page->Collect();
    }
    if (!ConfirmAddressUse(*state_, this))
        return false;
    const std::optional<CameraSnapshot> sent = state_->link.Camera(camera);
    state_->camera.StartApply();
    // Opens whether or not a frame went out; closes by itself on the last
    // acknowledgement or by its Cancel. No lock is held meanwhile.
    ApplyProgressDialog dialog(*state_, state_->net_page);
    // Known before the sequence runs, so the dialog can say so; the change goes on.
    if (auto error = state_->journal.Open()) {
        std::fprintf(stderr, "vantoro-config: %s\n", error->c_str());
        dialog.ShowNote(QStringLiteral("The journal of changes cannot be written."));
    }
    dialog.exec();
    if (sent)
        RecordChange(*sent, dialog.last_acknowledged());
    return true;
}

void ConfigSheet::RecordChange(const CameraSnapshot& sent, std::optional<ApplyStep> last_acknowledged)
{
    const bool reported = state_->reported && state_->reported->mac == sent.mac;
    // The login as typed: the journal is UTF-8, the remembered name the camera's bytes.
    ops::JournalEntry entry = ops::WriteEntry(reported ? *state_->reported : sent, sent,
                                              Utf8FromRecordText(state_->remembered_user), "apply");
    entry.program = "vantoro-config";
    if (last_acknowledged == ApplyStep::General) {
        entry.result = "applied";
    } else {
        // The sheet waits without a timeout: only the user's Cancel ends a sequence early.
        const ApplyStep missing = last_acknowledged ? ApplyStep(int(*last_acknowledged) + 1) : ApplyStep::User;
        entry.result = "no acknowledgement";
        entry.detail = std::string("no acknowledgement at step ") + StepName(missing) +
                       " before the progress dialog was closed";
    }
    if (auto error = state_->journal.Append(entry))
        std::fprintf(stderr, "vantoro-config: %s\n", error->c_str());
}

int RunConfigSheet(UiState& state, QWidget* owner)
{
    ConfigSheet sheet(state, owner);
    return sheet.exec();
}

} // namespace vantoro::ui
