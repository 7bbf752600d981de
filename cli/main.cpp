// vantoro: the camera link from the command line, for fleets and scripts.
// Exit status: 0 success, 1 one or more cameras failed, 2 bad usage or input,
// 130 a search interrupted by Ctrl+C.

#include "cli/commands.h"
#include "ops/apply_plan.h"

#include "vantoro_version.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace vantoro::cli;

namespace {

// Targets: whether --wan may name ranges to sweep (discover, set, apply).
enum class Targets { Single, Ranges };

// A script's --wan "$IP" with IP unset must not fall back to LAN mode.
const CLI::Validator kNotEmpty(
    [](std::string& text) {
        return text.empty() ? std::string("an empty value would mean LAN mode; leave the option out for that")
                            : std::string();
    },
    "", "not empty");

// Output that could not be written is a failure: a full disk, a closed pipe.
int CheckedOutput(int status)
{
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    const int error = errno;
    if (std::fclose(stdout) != 0 || failed) {
        std::fprintf(stderr, "vantoro: cannot write the output: %s\n", std::strerror(failed ? error : errno));
        return status == kExitOk ? kExitCameraFailed : status;
    }
    return status;
}

void AddCommonOptions(CLI::App* command, CommonOptions& common, const char* formats, Targets targets = Targets::Single)
{
    if (targets == Targets::Single) {
        command->add_option("--wan", common.wan, "WAN mode: send to the camera at this address (default: LAN mode, "
                                                 "broadcast on every interface)")
            ->type_name("ADDRESS")
            ->check(kNotEmpty);
    } else {
        command->add_option("--wan", common.wan,
                            "WAN mode: search this address, CIDR range (10.20.0.0/22), dash range "
                            "(10.20.0.10-10.20.0.99) or comma-separated list of these; a camera found is then "
                            "addressed where it answered from (default: LAN mode, broadcast on every interface)")
            ->type_name("TARGETS")
            ->check(kNotEmpty);
        command->add_option("--targets", common.targets_file, "WAN mode: also search the targets in this file, one "
                                                              "per line ('#' starts a comment line)")
            ->type_name("FILE")
            ->check(kNotEmpty);
        command->add_option("--rate", common.rate, "addresses searched per second in a sweep (default 500)")
            ->type_name("N");
        command->add_flag("--force", common.force,
                          "sweep more than 65536 addresses (a /16); set and apply: send a malformed network "
                          "(never an address another device holds)");
    }
    command->add_option("--wait", common.wait_ms, "how long to collect answers to the search (default 1000)")
        ->type_name("MS");
    command->add_option("--timeout", common.timeout_ms, "how long to wait for each acknowledgement (default 2000)")
        ->type_name("MS");
    command->add_option("--retries", common.retries,
                        targets == Targets::Single
                            ? "how often to resend the search, or a step without its acknowledgement (default 2)"
                            : "how often to resend the search (a sweep sends it once to each address), or a step "
                              "without its acknowledgement (default 2)")
        ->type_name("N");
    if (formats)
        command->add_option("--format", common.format, std::string("output: ") + formats + " (default table)")
            ->type_name("FORMAT");
    // For tests on loopback; the cameras listen on 2056 and answer to 2313.
    command->add_option("--camera-port", common.camera_port)->group("");
    command->add_option("--tool-port", common.tool_port)->group("");
}

void AddLogin(CLI::App* command, WriteOptions& write, bool always)
{
    command->add_option("--login", write.login,
                        "user name checked against the camera's user table; the password comes from "
                        "VANTORO_PASSWORD or a prompt")
        ->type_name("NAME")
        ->required();
    command->add_option("--secrets", write.secrets,
                        "read the passwords from standard input instead, as one JSON object (at most 64 KiB): "
                        "{\"login_password\": \"...\", \"new_passwords\": {\"NAME\": \"...\"}}")
        ->type_name("-");
    command->add_flag("--dry-run", write.dry_run,
                      always ? "print the changes field by field and send no record"
                             : "find the camera and check the login, and send nothing");
    if (always)
        command->add_flag("--always", write.always, "write the records even when they would change nothing");
}

// set, import and apply: the search after the write that checks what the camera kept.
void AddVerify(CLI::App* command, WriteOptions& write)
{
    command->add_flag("--no-verify", write.no_verify,
                      "do not search the camera again after the write to compare what it kept (result: applied)");
    command->add_option("--verify-wait", write.verify_wait_ms,
                        "how long to wait for the camera's records after the write (default 3000)")
        ->type_name("MS");
}

CLI::Option* Repeatable(CLI::Option* option)
{
    return option->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vantoro: find, back up and configure network cameras from the command line.\n"
                 "Exit status: 0 success, 1 one or more cameras failed, 2 bad usage or input, 130 a search "
                 "interrupted by Ctrl+C."};
    app.set_version_flag("--version", std::string("vantoro ") + vantoro::kVantoroVersion);
    app.require_subcommand(1);
    std::function<int()> run;
    CommonOptions common;

    CLI::App* discover = app.add_subcommand("discover", "list every camera that answers the search, sorted by MAC");
    AddCommonOptions(discover, common, "table, json or csv", Targets::Ranges);
    discover->callback([&] { run = [&] { return RunDiscover(common); }; });

    ShowOptions show;
    CLI::App* show_cmd = app.add_subcommand("show", "all fields of a camera's three records, decoded");
    show_cmd->add_option("MAC", show.mac, "the camera, as 00:0a:0b:00:00:01 or \"00 0A 0B 00 00 01\"")->required();
    show_cmd->add_flag("--show-passwords", show.show_passwords, "show the users' passwords instead of ***");
    AddCommonOptions(show_cmd, common, "table or json");
    show_cmd->callback([&] { run = [&] { return RunShow(common, show); }; });

    ExportOptions exp;
    CLI::App* export_cmd = app.add_subcommand("export", "write a camera's three records to a JSON backup file");
    export_cmd->add_option("MAC", exp.mac, "the camera")->required();
    export_cmd->add_option("FILE", exp.file, "the backup file to write")->required();
    AddCommonOptions(export_cmd, common, nullptr);
    export_cmd->callback([&] { run = [&] { return RunExport(common, exp); }; });

    std::string import_file;
    WriteOptions import_write;
    CLI::App* import_cmd = app.add_subcommand("import", "write an export's three records back to its camera");
    import_cmd->add_option("FILE", import_file, "a file written by vantoro export")->required();
    AddLogin(import_cmd, import_write, true);
    AddVerify(import_cmd, import_write);
    AddCommonOptions(import_cmd, common, "table or json");
    import_cmd->callback([&] { run = [&] { return RunImport(common, import_file, import_write); }; });

    SetOptions set;
    CLI::App* set_cmd = app.add_subcommand("set", "edit one camera's records and send them");
    set_cmd->add_option("MAC", set.mac, "the camera")->required();
    AddLogin(set_cmd, set.write, true);
    AddVerify(set_cmd, set.write);
    for (const vantoro::NetworkField* field : vantoro::kNetworkColumns) {
        std::string& text = set.network[std::size_t(field->id)];
        if (field->kind == vantoro::NetworkFieldKind::Address)
            set_cmd->add_option(SetOptionName(*field), text, "new address")->type_name("ADDRESS");
        else // "SERVER switch"
            set_cmd->add_option(SetOptionName(*field), text, std::string(field->label) + " switch")
                ->type_name("on|off");
    }
    Repeatable(set_cmd->add_option("--add-user", set.add_users,
                                   "add a user in the first free row; password from VANTORO_NEW_PASSWORD, a prompt or --secrets"))
        ->type_name("NAME");
    Repeatable(set_cmd->add_option("--password", set.passwords,
                                   "change an existing user's password in place; the new password comes from "
                                   "VANTORO_NEW_PASSWORD, a prompt or --secrets"))
        ->type_name("NAME");
    Repeatable(set_cmd->add_option("--delete-user", set.delete_users, "delete every user of this name (any case)"))
        ->type_name("NAME");
    Repeatable(set_cmd->add_option("--permissions", set.permissions, "set a user's permissions"))
        ->type_name("NAME=view,adjust|view|adjust|none");
    Repeatable(set_cmd->add_option("--add-domain", set.add_domains, "add a domain name in the first free row"))
        ->type_name("NAME=ADDRESS");
    Repeatable(set_cmd->add_option("--delete-domain", set.delete_domains, "delete every domain of this name (any case)"))
        ->type_name("NAME");
    Repeatable(set_cmd->add_option("--camera-name", set.camera_names,
                                   "name camera N (1 to 4); an empty TEXT clears the name"))
        ->type_name("N=TEXT");
    AddCommonOptions(set_cmd, common, "table or json", Targets::Ranges);
    set_cmd->callback([&] { run = [&] { return RunSet(common, set); }; });

    ApplyOptions apply;
    CLI::App* apply_cmd = app.add_subcommand("apply", "network settings for many cameras from a CSV file, one per row");
    apply_cmd->add_option("FILE", apply.csv, "CSV with a mac column and any of " + vantoro::ops::NetworkColumnList() +
                                             ", camera_name_1 to camera_name_4")
        ->required();
    AddLogin(apply_cmd, apply.write, true);
    AddVerify(apply_cmd, apply.write);
    apply_cmd->add_option("--parallel", apply.write.parallel,
                          "cameras written at once, each with its own sequence, timeout and resends: 1 to 256, "
                          "or auto (the default): start at 16, grow while acknowledgements come back in their "
                          "usual time, halve when a step times out, never past 256")
        ->type_name("N|auto");
    apply_cmd->add_option("--max-rate", apply.write.max_rate,
                          "records sent per second at most (in LAN mode every camera receives each one; "
                          "default " + std::to_string(vantoro::ops::PaceWindow::kDefaultMaxRate) + ")")
        ->type_name("N");
    apply_cmd->add_option("--report", apply.report, "also write the results as JSON to this file")->type_name("FILE");
    apply_cmd->add_option("--spare", apply.spare,
                          "a free address that cameras taking each other's addresses (a swap) pass through; "
                          "probed like any new address")
        ->type_name("ADDRESS");
    AddCommonOptions(apply_cmd, common, "table or json", Targets::Ranges);
    apply_cmd->callback([&] { run = [&] { return RunApply(common, apply); }; });

    std::string reset_mac;
    WriteOptions reset_write;
    CLI::App* reset_cmd = app.add_subcommand("reset", "send a camera the reset request");
    reset_cmd->add_option("MAC", reset_mac, "the camera")->required();
    AddLogin(reset_cmd, reset_write, false);
    AddCommonOptions(reset_cmd, common, "table or json");
    reset_cmd->callback([&] { run = [&] { return RunReset(common, reset_mac, reset_write); }; });

    LogOptions log;
    CLI::App* log_cmd = app.add_subcommand("log", "the journal of changes both programs keep, oldest first");
    log_cmd->add_option("--mac", log.mac, "only this camera")->type_name("MAC");
    log_cmd->add_option("--since", log.since, "only changes at or after this ISO 8601 date or time (UTC unless "
                                              "it names a zone)")
        ->type_name("TIME");
    log_cmd->add_option("--format", log.format, "output: table or json (default table)")->type_name("FORMAT");
    log_cmd->callback([&] { run = [&] { return RunLog(log); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e); // prints the help, the version or the error
        return code == 0 ? kExitOk : kExitBadInput;
    }
    // Results go out line by line, so a pipe sees each camera as it is done.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return CheckedOutput(run ? run() : kExitBadInput);
}
