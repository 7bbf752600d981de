#include "ops/record_edits.h"

#include "link/records.h"
#include "util/record_text.h"
#include "util/strict_address.h"

#include <algorithm>

namespace vantoro::ops {

bool GeneralEdits::empty() const
{
    const auto given = [](const auto& edit) { return edit.has_value(); };
    return std::none_of(network.begin(), network.end(), given) &&
           std::none_of(camera_names.begin(), camera_names.end(), given);
}

bool RecordEdits::empty() const
{
    return general.empty() && delete_users.empty() && add_users.empty() && passwords.empty() && permissions.empty() &&
           delete_domains.empty() && add_domains.empty();
}

std::optional<Permissions> ParsePermissions(const std::string& text)
{
    if (text == "none")
        return Permissions{};
    if (text == "view")
        return Permissions{true, false};
    if (text == "adjust")
        return Permissions{false, true};
    if (text == "view,adjust" || text == "adjust,view")
        return Permissions{true, true};
    return std::nullopt;
}

std::optional<bool> ParseSwitch(const std::string& text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

namespace {

// A field of width bytes holds width - 1 characters and the NUL.
Error CheckText(const std::string& what, const std::string& text, std::size_t width,
                                     bool may_be_empty)
{
    if (text.empty() && !may_be_empty)
        return what + " must not be empty";
    if (text.size() > width - 1)
        return what + " '" + Utf8FromRecordText(text) + "' is " + std::to_string(text.size()) +
               " characters long; the camera holds at most " + std::to_string(width - 1);
    return std::nullopt;
}

Error CheckPassword(const NamedPassword& u)
{
    if (u.password.size() > user_layout::password_width - 1)
        return "the password for " + Utf8FromRecordText(u.name) + " is " + std::to_string(u.password.size()) +
               " characters long; the camera holds at most " + std::to_string(user_layout::password_width - 1);
    return std::nullopt;
}

} // namespace

std::string NetworkFieldText(const GeneralConfigReader& general, const NetworkField& field)
{
    const std::uint32_t word = general.network_word(field.offset);
    if (field.kind == NetworkFieldKind::Switch)
        return word != 0 ? "on" : "off";
    return AddressText(word);
}

std::string CameraNameField(int slot)
{
    return "camera_name_" + std::to_string(slot + 1);
}

Error CheckCameraName(int slot, const std::string& text)
{
    return CheckText(CameraNameField(slot), text, general_layout::camera_name_width(slot), true);
}

Error CheckTextLengths(const RecordEdits& e)
{
    for (const std::string& name : e.delete_users)
        if (auto error = CheckText("user name", name, user_layout::name_width, false))
            return error;
    for (const NamedPassword& u : e.add_users) {
        if (auto error = CheckText("user name", u.name, user_layout::name_width, false))
            return error;
        if (auto error = CheckPassword(u))
            return error;
    }
    for (const NamedPassword& u : e.passwords) {
        if (auto error = CheckText("user name", u.name, user_layout::name_width, false))
            return error;
        if (auto error = CheckPassword(u))
            return error;
    }
    for (const auto& [name, perms] : e.permissions)
        if (auto error = CheckText("user name", name, user_layout::name_width, false))
            return error;
    for (const std::string& name : e.delete_domains)
        if (auto error = CheckText("domain name", name, domain_layout::name_width, false))
            return error;
    for (const auto& [name, address] : e.add_domains) {
        if (auto error = CheckText("domain name", name, domain_layout::name_width, false))
            return error;
        if (auto error = CheckText("domain address", address, domain_layout::ip_text_width, false))
            return error;
    }
    for (int slot = 0; slot < general_layout::camera_names; ++slot)
        if (const auto& name = e.general.camera_names[std::size_t(slot)])
            if (auto error = CheckCameraName(slot, *name))
                return error;
    return std::nullopt;
}

Error ApplyEdits(const RecordEdits& e, CameraSnapshot& records)
{
    UserConfig users(records.user->data());
    DomainConfig domains(records.domain->data());
    for (const std::string& name : e.delete_users)
        if (users.DeleteByName(name) == 0)
            return "no user named '" + Utf8FromRecordText(name) + "' to delete";
    for (const NamedPassword& u : e.add_users)
        if (users.AddUser(u.name, u.password) < 0)
            return "the user table is full (" + std::to_string(UserConfigReader::kRows) + " users); cannot add '" +
                   Utf8FromRecordText(u.name) + "'";
    for (const NamedPassword& u : e.passwords)
        if (users.StorePasswordByName(u.name, u.password) == 0)
            return "no user named '" + Utf8FromRecordText(u.name) + "' for --password";
    for (const auto& [name, p] : e.permissions)
        if (users.StorePermissionsByName(name, p.view_image, p.adjust) == 0)
            return "no user named '" + Utf8FromRecordText(name) + "' for --permissions";
    for (const std::string& name : e.delete_domains)
        if (domains.DeleteByName(name) == 0)
            return "no domain named '" + Utf8FromRecordText(name) + "' to delete";
    for (const auto& [name, address] : e.add_domains)
        if (domains.AddDomain(name, address) < 0)
            return "the domain table is full (" + std::to_string(DomainConfigReader::kRows) + " names); cannot add '" +
                   Utf8FromRecordText(name) + "'";
    ApplyGeneralEdits(e.general, *records.general);
    return std::nullopt;
}

void ApplyGeneralEdits(const GeneralEdits& g, Frame& record)
{
    GeneralConfig general(record.data());
    for (const NetworkField& field : kNetworkFields) {
        const auto& edit = g[field.id];
        if (!edit)
            continue;
        if (field.kind == NetworkFieldKind::Address) {
            general.set_network_address(field.offset, *edit);
        } else if ((*edit != 0) != (general.network_word(field.offset) != 0)) {
            // A switch that already reads as asked keeps the camera's own word:
            // it may hold 2 for on, which a rewrite would turn into 1.
            general.set_network_switch(field.offset, *edit != 0);
        }
    }
    for (int slot = 0; slot < general_layout::camera_names; ++slot)
        if (const auto& name = g.camera_names[std::size_t(slot)])
            general.set_camera_name(slot, *name);
}

std::string PermissionText(std::uint32_t word)
{
    const bool view = word & PERM_VIEW_IMAGE;
    const bool adjust = word & PERM_ADJUST;
    return view && adjust ? "view,adjust" : view ? "view" : adjust ? "adjust" : "none";
}

} // namespace vantoro::ops
