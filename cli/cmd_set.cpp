// vantoro set MAC --login NAME [edits] [--dry-run]: edits one camera's records
// with the sheet's rules and sends them through the acknowledged sequence.

#include "cli/command_support.h"
#include "ops/edit_options.h"
#include "cli/interrupt.h"
#include "cli/passwords.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <cstdio>

namespace vantoro::cli {

namespace {

// Every check that needs no camera; an error text names the bad value.
std::optional<std::string> ReadEdits(const SetOptions& o, RecordEdits& e)
{
    GeneralEdits& g = e.general;
    for (const NetworkField* field : kNetworkColumns)
        if (auto error = ReadNetworkEdit(SetOptionName(*field), *field, o.network[std::size_t(field->id)], g))
            return error;
    for (const std::string& text : o.camera_names)
        if (auto error = ReadCameraNameOption(text, g))
            return error;
    e.delete_users = o.delete_users;
    for (const std::string& text : o.permissions) {
        const auto assignment = SplitAssignment(text);
        const auto perms = assignment ? ParsePermissions(assignment->second) : std::nullopt;
        if (!perms)
            return "--permissions wants NAME=view,adjust, NAME=view, NAME=adjust or NAME=none, not '" +
                   PrintableText(text) + "'";
        e.permissions.emplace_back(assignment->first, *perms);
    }
    e.delete_domains = o.delete_domains;
    for (const std::string& text : o.add_domains) {
        const auto assignment = SplitAssignment(text);
        if (!assignment || !ParseStrictAddress(assignment->second))
            return "--add-domain wants NAME=ADDRESS with a dotted IPv4 address, not '" + PrintableText(text) + "'";
        e.add_domains.push_back(*assignment);
    }
    // Names only here: the new passwords are asked for once the rest is known good.
    for (const std::string& name : o.add_users)
        e.add_users.push_back({name, {}});
    for (const std::string& name : o.passwords)
        e.passwords.push_back({name, {}});
    return CheckTextLengths(e);
}

} // namespace

int RunSet(const CommonOptions& common, const SetOptions& o)
{
    auto options = CheckCommon(common, false, true);
    const auto mac = options && CheckWrite(o.write, *options) ? CheckMac(o.mac) : std::nullopt;
    if (!mac)
        return kExitBadInput;
    RecordEdits edits;
    if (auto error = ReadEdits(o, edits)) {
        Complain(*error);
        return kExitBadInput;
    }
    if (edits.empty()) {
        Complain("set wants at least one edit (see vantoro set --help)");
        return kExitBadInput;
    }
    const auto password = LoginPassword(o.write.login);
    if (!password)
        return kExitBadInput;
    for (auto* users : {&edits.add_users, &edits.passwords}) {
        for (NamedPassword& user : *users) {
            const auto secret = ReadSecret(kNewPasswordVariable, "New password for " + user.name + ": ");
            if (!secret) {
                Complain("no new password for " + PrintableText(user.name) + ": set " + kNewPasswordVariable +
                         " or run on a terminal to be asked");
                return kExitBadInput;
            }
            user.password = *secret;
        }
    }
    if (auto error = CheckTextLengths(edits)) {
        Complain(*error);
        return kExitBadInput;
    }

    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    // The first Ctrl+C ends a search early, and lets a write under way finish.
    const InterruptCatcher catcher;
    const auto camera = FindAndLogin(session, *mac, o.write.login, *password);
    if (!camera)
        return session.stopped() ? kExitInterrupted : kExitCameraFailed;
    if (!OneSource(*camera))
        return kExitBadInput;
    CameraSnapshot edited = *camera;
    if (auto error = ApplyEdits(edits, edited)) {
        Complain(*error + "; nothing was sent");
        return kExitBadInput;
    }
    const std::string mac_text = MacTableText(*mac);
    const auto changes = DescribeChanges(*camera, edited);
    for (const FieldChange& c : changes)
        std::printf("%s  %s\n", mac_text.c_str(), c.Text().c_str());
    if (!AddressesSafe(session, {PlanOf(*camera, *edited.general)}, !common.force))
        return kExitBadInput;
    if (o.write.dry_run) {
        std::printf("%s  dry run: nothing sent\n", mac_text.c_str());
        return kExitOk;
    }
    // Byte for byte: an edit that writes what is there already changes nothing.
    if (edited.general == camera->general && edited.user == camera->user && edited.domain == camera->domain) {
        std::printf("%s  unchanged\n", mac_text.c_str());
        return kExitOk;
    }
    if (session.stopped()) {
        Complain("interrupted; nothing was sent");
        return kExitInterrupted;
    }
    const CameraResult result = WriteOne(session, {edited, *camera, false}, changes, o.write.login, "apply");
    return WriteExitStatus(session, !ResultFailed(result));
}

} // namespace vantoro::cli
