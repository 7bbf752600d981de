// vantoro export MAC FILE: a backup of the camera's three records.

#include "cli/camera_view.h"
#include "cli/command_support.h"
#include "cli/export_file.h"
#include "cli/text_forms.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vantoro::cli {

namespace {

// Written beside the target and renamed over it, readable by the owner only:
// the user record holds the camera's passwords.
std::optional<std::string> WriteFileAtomically(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return "cannot write " + temporary + ": " + std::strerror(errno);
    const bool written = ::write(fd, text.data(), text.size()) == long(text.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return error;
    }
    return std::nullopt;
}

} // namespace

int RunExport(const CommonOptions& common, const ExportOptions& o)
{
    const auto options = CheckCommon(common, false);
    const auto mac = options ? CheckMac(o.mac) : std::nullopt;
    if (!mac)
        return kExitBadInput;
    if (o.file.empty()) {
        Complain("export wants a file name");
        return kExitBadInput;
    }
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    const auto camera = FindCamera(session, *mac);
    if (!camera)
        return kExitCameraFailed;
    std::string from = options->wan ? *options->wan : "LAN broadcast";
    if (const std::string iface = InterfaceName(camera->answer_interface); !options->wan && !iface.empty())
        from += " on " + iface;
    if (auto error = WriteFileAtomically(o.file, DumpJson(MakeExport(*camera, from)) + "\n")) {
        Complain(*error);
        return kExitBadInput;
    }
    std::printf("exported %s to %s\n", MacTableText(*mac).c_str(), o.file.c_str());
    return kExitOk;
}

} // namespace vantoro::cli
