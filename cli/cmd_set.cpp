// vantoro set MAC --login NAME [edits] [--dry-run]: edits one camera's records
// with the sheet's rules and sends them through the acknowledged sequence.

#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
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
Error ReadEdits(const SetOptions& o, RecordEdits& e)
{
    GeneralEdits& g = e.general;
    for (const NetworkField* field : kNetworkColumns)
        if (auto error = ReadNetworkEdit(SetOptionName(*field), *field, o.network[std::size_t(field->id)], g))
            return error;
    for (const std::string& text : o.camera_names)
        if (auto error = ReadCameraNameOption(text, g))
            return error;
    // Names and addresses as typed (UTF-8) into the camera's bytes.
    for (const std::string& name : o.delete_users) {
        if (auto error = ReadRecordText("--delete-user", name, e.delete_users.emplace_back()))
            return error;
    }
    for (const std::string& text : o.permissions) {
        const auto assignment = SplitAssignment(text);
        const auto perms = assignment ? ParsePermissions(assignment->second) : std::nullopt;
        if (!perms)
            return "--permissions wants NAME=view,adjust, NAME=view, NAME=adjust or NAME=none, not '" +
                   TerminalText(text) + "'";
        if (auto error = ReadRecordText("--permissions", assignment->first, e.permissions.emplace_back("", *perms).first))
            return error;
    }
    for (const std::string& name : o.delete_domains) {
        if (auto error = ReadRecordText("--delete-domain", name, e.delete_domains.emplace_back()))
            return error;
    }
    for (const std::string& text : o.add_domains) {
        const auto assignment = SplitAssignment(text);
        if (!assignment || !ParseStrictAddress(assignment->second))
            return "--add-domain wants NAME=ADDRESS with a dotted IPv4 address, not '" + TerminalText(text) + "'";
        auto& [name, address] = e.add_domains.emplace_back();
        if (auto error = ReadRecordText("--add-domain", assignment->first, name))
            return error;
        address = assignment->second; // a dotted address: ASCII
    }
    // Names only here: the new passwords are asked for once the rest is known good.
    for (const std::string& name : o.add_users) {
        if (auto error = ReadRecordText("--add-user", name, e.add_users.emplace_back().name))
            return error;
    }
    for (const std::string& name : o.passwords) {
        if (auto error = ReadRecordText("--password", name, e.passwords.emplace_back().name))
            return error;
    }
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
    // The names as typed, as --secrets and the prompts name them; edits.add_users
    // and edits.passwords hold the same names in the same order, as the camera stores them.
    std::vector<std::string> new_names = o.add_users;
    new_names.insert(new_names.end(), o.passwords.begin(), o.passwords.end());
    const auto passwords = ReadPasswords(o.write, new_names);
    if (!passwords)
        return kExitBadInput;
    for (std::size_t i = 0; i < edits.add_users.size(); ++i)
        edits.add_users[i].password = passwords->fresh.at(o.add_users[i]);
    for (std::size_t i = 0; i < edits.passwords.size(); ++i)
        edits.passwords[i].password = passwords->fresh.at(o.passwords[i]);
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
    // A new Ethernet IP is checked against every camera: the whole search.
    const auto camera = FindAndLogin(session, *mac, o.write.login, passwords->login, &result,
                                     edits.general[NetworkFieldId::EthernetIp] ? SearchScope::Whole
                                                                              : SearchScope::UntilTargetsFound);
    if (!camera) {
        if (json)
            PrintResults({result}, verify);
        return session.stopped() ? kExitInterrupted : kExitCameraFailed;
    }
    if (std::vector<AddressProblem> problems; !OneSource(*camera, &problems)) {
        if (json)
            PrintResults(RefusedResults({camera->mac}), verify, problems);
        return kExitBadInput;
    }
    CameraSnapshot edited = *camera;
    if (auto error = ApplyEdits(edits, edited)) {
        Complain(*error + "; nothing was sent");
        return kExitBadInput;
    }
    const std::string mac_text = MacTableText(*mac);
    // Byte for byte: an edit that writes what is there already sends nothing.
    if (SaidUnchanged(*camera, edited, o.write.always, json, verify, result))
        return kExitOk;
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
