#pragma once
// Passwords never come from the command line, where the process list shows
// them: from an environment variable, or typed at a prompt without echo.

#include <optional>
#include <string>

namespace vantoro::cli {

// The value of env_name when it is set; otherwise prompt on /dev/tty with echo
// off. None when neither is possible (no variable and no terminal).
std::optional<std::string> ReadSecret(const char* env_name, const std::string& prompt);

inline constexpr const char* kPasswordVariable = "VANTORO_PASSWORD";
inline constexpr const char* kNewPasswordVariable = "VANTORO_NEW_PASSWORD";

} // namespace vantoro::cli
