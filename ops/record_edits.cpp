#include "ops/record_edits.h"

#include "ops/text_forms.h"
#include "link/records.h"
#include "util/strict_address.h"

#include <algorithm>

namespace vantoro::ops {

bool GeneralEdits::empty() const
{
    return !ethernet_ip && !ethernet_mask && !gateway && !bootp_start && !bootp_end && !ppp_ip && !ppp_mask &&
           !ppp_client_ip && !server && !bootp &&
           std::none_of(camera_names.begin(), camera_names.end(), [](const auto& name) { return name.has_value(); });
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
std::optional<std::string> CheckText(const std::string& what, const std::string& text, std::size_t width,
                                     bool may_be_empty)
{
    if (text.empty() && !may_be_empty)
        return what + " must not be empty";
    if (text.size() > width - 1)
        return what + " '" + PrintableText(text) + "' is " + std::to_string(text.size()) +
               " characters long; the camera holds at most " + std::to_string(width - 1);
    return std::nullopt;
}

std::optional<std::string> CheckPassword(const NamedPassword& u)
{
    if (u.password.size() > user_layout::password_width - 1)
        return "the password for " + PrintableText(u.name) + " is " + std::to_string(u.password.size()) +
               " characters long; the camera holds at most " + std::to_string(user_layout::password_width - 1);
    return std::nullopt;
}

} // namespace

std::string CameraNameField(int slot)
{
    return "camera_name_" + std::to_string(slot + 1);
}

std::optional<std::string> CheckCameraName(int slot, const std::string& text)
{
    return CheckText(CameraNameField(slot), text, general_layout::camera_name_width(slot), true);
}

std::optional<std::string> CheckTextLengths(const RecordEdits& e)
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

std::optional<std::string> ApplyEdits(const RecordEdits& e, CameraSnapshot& records)
{
    UserConfig users(records.user->data());
    DomainConfig domains(records.domain->data());
    GeneralConfig general(records.general->data());
    for (const std::string& name : e.delete_users)
        if (users.DeleteByName(name) == 0)
            return "no user named '" + PrintableText(name) + "' to delete";
    for (const NamedPassword& u : e.add_users)
        if (users.AddUser(u.name, u.password) < 0)
            return "the user table is full (" + std::to_string(UserConfigReader::kRows) + " users); cannot add '" +
                   PrintableText(u.name) + "'";
    for (const NamedPassword& u : e.passwords)
        if (users.StorePasswordByName(u.name, u.password) == 0)
            return "no user named '" + PrintableText(u.name) + "' for --password";
    for (const auto& [name, p] : e.permissions)
        if (users.StorePermissionsByName(name, p.view_image, p.adjust) == 0)
            return "no user named '" + PrintableText(name) + "' for --permissions";
    for (const std::string& name : e.delete_domains)
        if (domains.DeleteByName(name) == 0)
            return "no domain named '" + PrintableText(name) + "' to delete";
    for (const auto& [name, address] : e.add_domains)
        if (domains.AddDomain(name, address) < 0)
            return "the domain table is full (" + std::to_string(DomainConfigReader::kRows) + " names); cannot add '" +
                   PrintableText(name) + "'";

    const GeneralEdits& g = e.general;
    if (g.ethernet_ip)
        general.set_ethernet_ip(*g.ethernet_ip);
    if (g.ethernet_mask)
        general.set_ethernet_mask(*g.ethernet_mask);
    if (g.gateway)
        general.set_gateway(*g.gateway);
    if (g.bootp_start)
        general.set_bootp_start_ip(*g.bootp_start);
    if (g.bootp_end)
        general.set_bootp_end_ip(*g.bootp_end);
    if (g.ppp_ip)
        general.set_ppp_ip(*g.ppp_ip);
    if (g.ppp_mask)
        general.set_ppp_mask(*g.ppp_mask);
    if (g.ppp_client_ip)
        general.set_ppp_client_ip(*g.ppp_client_ip);
    // A switch that already reads as asked keeps the camera's own word: it
    // may hold 2 for on, which a rewrite would turn into 1.
    if (g.server && *g.server != general.server_on())
        general.set_server_on(*g.server);
    if (g.bootp && *g.bootp != general.bootp_on())
        general.set_bootp_on(*g.bootp);
    for (int slot = 0; slot < general_layout::camera_names; ++slot)
        if (const auto& name = g.camera_names[std::size_t(slot)])
            general.set_camera_name(slot, *name);
    return std::nullopt;
}

namespace {

std::string PermissionText(std::uint32_t word)
{
    const bool view = word & PERM_VIEW_IMAGE;
    const bool adjust = word & PERM_ADJUST;
    return view && adjust ? "view,adjust" : view ? "view" : adjust ? "adjust" : "none";
}

std::string UserRowText(const UserConfigReader& users, int row)
{
    if (users.RowEmpty(row))
        return "(free)";
    return PrintableText(users.name(row)) + " " + PermissionText(users.permissions(row));
}

std::string DomainRowText(const DomainConfigReader& domains, int row)
{
    if (domains.RowEmpty(row))
        return "(free)";
    return PrintableText(domains.name(row)) + " " + PrintableText(domains.ip_text(row));
}

} // namespace

std::string FieldChange::Text() const
{
    if (before.empty() && after.empty())
        return field + ": changed";
    return field + ": " + before + " -> " + after;
}

std::vector<FieldChange> DescribeChanges(const CameraSnapshot& before, const CameraSnapshot& after)
{
    std::vector<FieldChange> changes;
    // Records left as they were are not looked into: a batch edits one of three.
    if (before.general && after.general && *before.general != *after.general) {
        const GeneralConfigReader b(before.general->data());
        const GeneralConfigReader a(after.general->data());
        const auto address = [&](const char* field, std::uint32_t x, std::uint32_t y) {
            if (x != y)
                changes.push_back({field, AddressText(x), AddressText(y)});
        };
        address("ethernet_ip", b.ethernet_ip(), a.ethernet_ip());
        address("ethernet_mask", b.ethernet_mask(), a.ethernet_mask());
        address("gateway", b.gateway(), a.gateway());
        address("bootp_start", b.bootp_start_ip(), a.bootp_start_ip());
        address("bootp_end", b.bootp_end_ip(), a.bootp_end_ip());
        address("ppp_ip", b.ppp_ip(), a.ppp_ip());
        address("ppp_mask", b.ppp_mask(), a.ppp_mask());
        address("ppp_client_ip", b.ppp_client_ip(), a.ppp_client_ip());
        // The raw words: a camera's 2 reads as on.
        const auto word = [&](const char* field, std::size_t offset, bool x, bool y) {
            const std::uint32_t wx = LoadLe32(before.general->data() + offset);
            const std::uint32_t wy = LoadLe32(after.general->data() + offset);
            if (wx != wy)
                changes.push_back({field, x ? "on" : "off", y ? "on" : "off"});
        };
        word("server", general_layout::server_on, b.server_on(), a.server_on());
        word("bootp", general_layout::bootp_on, b.bootp_on(), a.bootp_on());
        for (int slot = 0; slot < general_layout::camera_names; ++slot)
            if (b.camera_name(slot) != a.camera_name(slot))
                changes.push_back({CameraNameField(slot), "'" + PrintableText(b.camera_name(slot)) + "'",
                                   "'" + PrintableText(a.camera_name(slot)) + "'"});
    }
    if (before.user && after.user && *before.user != *after.user) {
        const UserConfigReader b(before.user->data());
        const UserConfigReader a(after.user->data());
        for (int r = 0; r < UserConfigReader::kRows; ++r) {
            std::string x = UserRowText(b, r);
            std::string y = UserRowText(a, r);
            const bool new_password = !a.RowEmpty(r) && b.password(r) != a.password(r);
            if (x == y && !new_password)
                continue;
            // The same user with a new password: only that it changed.
            if (x == y) {
                changes.push_back({"password of " + PrintableText(a.name(r)), {}, {}});
                continue;
            }
            if (new_password)
                y += " (new password)";
            changes.push_back({"user row " + std::to_string(r), x, y});
        }
    }
    if (before.domain && after.domain && *before.domain != *after.domain) {
        const DomainConfigReader b(before.domain->data());
        const DomainConfigReader a(after.domain->data());
        for (int r = 0; r < DomainConfigReader::kRows; ++r) {
            const std::string x = DomainRowText(b, r);
            const std::string y = DomainRowText(a, r);
            if (x != y)
                changes.push_back({"domain row " + std::to_string(r), x, y});
        }
    }
    return changes;
}

} // namespace vantoro::ops
