#pragma once
// The steps a command takes with its session: start it, find a camera and
// check the login, check a plan's addresses, write one camera, and the exit
// status after writes.

#include "cli/commands.h"
#include "ops/address_checks.h"
#include "ops/batch_apply.h"

#include <optional>
#include <string>
#include <vector>

namespace vantoro::cli {

// Writes one camera (set, import) and prints its line: what ResultLine
// gives, with applied_word for an acknowledged write that was not verified.
// A write that was started goes into the journal of changes as login's action.
// print: false with --format json, whose document says it instead.
CameraResult WriteOne(Session& session, const WriteJob& job, const std::vector<Change>& changes,
                      const std::string& login, const char* action, const char* applied_word = "applied",
                      bool print = true);

// Starts the session's receiver; false after a message saying why not.
bool StartSession(Session& session);

// Searches until the camera has sent all three records (scope Whole: the
// whole search all the same). Returns them, or none after a message saying
// what was missing.
std::optional<CameraSnapshot> FindCamera(Session& session, const MacAddress& mac,
                                         SearchScope scope = SearchScope::UntilTargetsFound);

// Searches, then checks the login: the records, or none after a message
// (camera missing, incomplete, or login refused: exit status 1). failure,
// when given, then holds the camera's result as --format json gives it.
std::optional<CameraSnapshot> FindAndLogin(Session& session, const MacAddress& mac, const std::string& login,
                                          const std::string& password, CameraResult* failure = nullptr,
                                          SearchScope scope = SearchScope::UntilTargetsFound);

// The changes of writing after over before, into result and, for a table,
// one line each; or, when it would change nothing byte for byte and always
// is not given, the result unchanged, printed, and true: nothing to send.
bool SaidUnchanged(const CameraSnapshot& before, const CameraSnapshot& after, bool always, bool json, bool verify,
                   CameraResult& result);

// False after a line on standard error naming the MAC and its addresses
// when the camera's MAC answered from more than one address: nothing may be
// sent to it unless --wan narrows the search to one of them.
bool OneSource(const CameraSnapshot& camera, std::vector<AddressProblem>* problems = nullptr);

// The address checks over a whole plan, the live probe included, before
// anything is sent. False after one line on standard error per problem;
// what could not be checked is said there too. malformed: also refuse
// malformed networks. problems, when given, receives each problem. A plan
// that moves an Ethernet IP is checked against a whole search (made now when
// the last one ended early), and refused when that search lost answers: a
// camera holding the address may be unheard.
bool AddressesSafe(Session& session, const std::vector<PlannedNetwork>& plan, bool malformed,
                   std::vector<AddressProblem>* problems = nullptr);

// After a command's writes: 0 or 1 by ok, or 130 after a Ctrl+C, which let the
// camera in progress finish and sent nothing more (said on standard error).
int WriteExitStatus(const Session& session, bool ok);

} // namespace vantoro::cli
