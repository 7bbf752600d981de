// vantoro set MAC --login NAME [edits] [--dry-run]: edits one camera's records
// with the sheet's rules and sends them through the acknowledged sequence.

#include "cli/command_support.h"
#include "ops/edit_options.h"
#include "cli/interrupt.h"
#include "cli/passwords.h"
#include "cli/write_report.h"
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
    std::vector<std::string> new_names;
    for (auto* users : {&edits.add_users, &edits.passwords})
        for (const NamedPassword& user : *users)
            new_names.push_back(user.name);
    const auto passwords = ReadPasswords(o.write, new_names);
    if (!passwords)
        return kExitBadInput;
    for (auto* users : {&edits.add_users, &edits.passwords})
        for (NamedPassword& user : *users)
            user.password = passwords->fresh.at(user.name);
    if (auto error = CheckTextLengths(edits)) {
        Complain(*error);
        return kExitBadInput;
    }

    const bool json = common.format == "json";
    const bool verify = options->verify && !o.write.dry_run;
    CameraResult result;
    result.mac = *mac;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    // The first Ctrl+C ends a search early, and lets a write under way finish.
    const InterruptCatcher catcher;
    const auto camera = FindAndLogin(session, *mac, o.write.login, passwords->login, &result);
    if (!camera) {
        if (json)
            PrintResults({result}, verify);
        return session.stopped() ? kExitInterrupted : kExitCameraFailed;
    }
    CameraSnapshot edited = *camera;
    if (auto error = ApplyEdits(edits, edited)) {
        Complain(*error + "; nothing was sent");
        return kExitBadInput;
    }
    const std::string mac_text = MacTableText(*mac);
    result.changes = DescribeWrite(*camera, edited).changes;
    // Byte for byte: an edit that writes what is there already sends nothing.
    if (WritesNothing(*camera, edited) && !o.write.always) {
        result.result = BatchResult::Unchanged;
        if (json)
            PrintResults({result}, verify);
        else
            std::printf("%s  unchanged\n", mac_text.c_str());
        return kExitOk;
    }
    for (std::size_t i = 0; i < result.changes.size() && !json; ++i)
        std::printf("%s  %s\n", mac_text.c_str(), result.changes[i].Line().c_str());
    std::vector<AddressProblem> problems;
    if (!AddressesSafe(session, {PlanOf(*camera, *edited.general)}, !common.force, &problems)) {
        if (json) {
            auto refused = RefusedResults({*mac});
            refused[0].changes = result.changes; // what would have been sent
            PrintResults(refused, verify, problems);
        }
        return kExitBadInput;
    }
    if (o.write.dry_run) {
        result.result = BatchResult::WouldApply;
        if (json)
            PrintResults({result}, verify);
        else
            std::printf("%s  dry run: nothing sent\n", mac_text.c_str());
        return kExitOk;
    }
    if (session.stopped()) {
        Complain("interrupted; nothing was sent");
        if (json) {
            result.result = BatchResult::NotStarted;
            result.detail = "interrupted";
            PrintResults({result}, verify);
        }
        return kExitInterrupted;
    }
    result = WriteOne(session, {edited, *camera, false}, result.changes, o.write.login, "apply", "applied", !json);
    if (json)
        PrintResults({result}, verify);
    return WriteExitStatus(session, !ResultFailed(result));
}

} // namespace vantoro::cli
