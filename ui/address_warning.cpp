#include "ui/address_warning.h"

#include "link/records.h"
#include "ops/address_checks.h"
#include "ui/ui_state.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace vantoro::ui {

namespace {

QString ProblemText(const ops::AddressProblem& p)
{
    const QString address = QString::fromStdString(p.address.text());
    const QString other = QString::fromStdString(p.other ? MacColonText(*p.other) : std::string());
    if (p.check == ops::AddressCheck::Own)
        return QStringLiteral("%1 is an address of this computer.").arg(address);
    if (p.check == ops::AddressCheck::Live && !p.other)
        return QStringLiteral("%1 is in use: it answered a ping through the router.").arg(address);
    if (p.check == ops::AddressCheck::Live)
        return QStringLiteral("%1 is in use: the device %2 answered for it.").arg(address, other);
    return QStringLiteral("%1 is held by camera %2.").arg(address, other);
}

} // namespace

bool ConfirmAddressUse(UiState& state, QWidget* parent)
{
    const auto mac = state.current_camera();
    const auto camera = mac ? state.link.Camera(*mac) : std::nullopt;
    const auto& reported = state.reported;
    if (!camera || !camera->general || !reported || reported->mac != *mac || !reported->general)
        return true;
    ops::PlannedNetwork plan = ops::PlanOf(*camera, *camera->general);
    plan.before[std::size_t(NetworkFieldId::EthernetIp)] = GeneralConfigReader(reported->general->data()).ethernet_ip();
    if (!plan.Moves())
        return true;
    ops::AddressCheckOptions options;
    options.malformed = false; // the sheet keeps its lenient address forms
    options.lan_mode = !state.link.wan_mode();
    options.interfaces = state.link.Interfaces();
    options.own_addresses = ops::OwnAddresses();
    ops::AddressCheckReport report;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor); // the probe listens for a second
        report = ops::CheckAddressPlan({plan}, state.link.Cameras(), options, *state.prober);
        QApplication::restoreOverrideCursor();
    }
    if (!report.refused())
        return true;
    QStringList lines;
    for (const ops::AddressProblem& p : report.problems)
        lines << ProblemText(p);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Address in use"), lines.join(QLatin1Char('\n')),
                    QMessageBox::NoButton, parent);
    QPushButton* anyway = box.addButton(QStringLiteral("Apply anyway"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == anyway;
}

} // namespace vantoro::ui
