// vantoro export MAC FILE: a backup of the camera's three records.

#include "cli/camera_view.h"
#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "ops/export_file.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::cli {

namespace {

// Written to a fresh file of its own beside the target, readable by the owner
// only (the user record holds the camera's passwords), synced, then renamed
// over the target: a planted link or a leftover file is never written through.
Error WriteFileAtomically(const std::string& path, const std::string& text)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string temporary = folder + "/.vantoro-export-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return "cannot write in " + folder + ": " + std::strerror(errno);
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += std::size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
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
    std::string from = options->wan ? options->wan->text() : "LAN broadcast";
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
