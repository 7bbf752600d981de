#pragma once
// The passwords of a command: the login's, and the new ones a write sets.

#include "cli/commands.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::cli {

// The login password from VANTORO_PASSWORD or a prompt; none after a complaint.
std::optional<std::string> LoginPassword(const std::string& login);

// The passwords of a write command.
struct WritePasswords {
    std::string login; // as typed (UTF-8), known to be storable
    std::map<std::string, std::string> fresh; // the new password of each name new_names gave, as the camera stores it
};
// From the JSON object on standard input with --secrets -, else the login
// password from VANTORO_PASSWORD or a prompt and each new one from
// VANTORO_NEW_PASSWORD or a prompt. new_names: the users that --add-user and
// --password name. A login name or password that Windows-1252 cannot hold is
// refused. None after a complaint: exit 2, nothing sent.
std::optional<WritePasswords> ReadPasswords(const WriteOptions& write, const std::vector<std::string>& new_names);

} // namespace vantoro::cli
