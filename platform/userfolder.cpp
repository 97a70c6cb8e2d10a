// The per-user program folder of an installed program: made at the first start, its links into
// the installed folder kept up to date at every start. Platform layer.
#include "platform/userfolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// What every user's program folder holds of its own.
const char* const kUserFolders[] = {"settings", "cache", "temp", "scripts"};

// Entries of the installed folder that are not linked as a whole: the marker, the scripts (linked
// one by one, beside the user's own), and what the first start copies for the user to change.
bool LinkedWhole(const std::string& name) {
    return name != kInstalledMarker && name != "scripts" && name != "demo" && name != "cache" &&
           name != "settings" && name != "temp";
}
bool LinkedAlways(const std::string&) { return true; }

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string Message(const std::string& what, const fs::path& path, int error) {
    return what + " \"" + path.string() + "\": " + std::strerror(error);
}

// Copies a shipped folder for the user to change: folders are made as the user's own, files keep
// their bits and become writable by the user, even when nobody may write to the installed ones.
void CopyForUser(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(from)) {
        const fs::path target = to / fs::relative(e.path(), from);
        if (e.is_directory()) {
            fs::create_directories(target);
        } else if (e.is_regular_file()) {
            fs::copy_file(e.path(), target, fs::copy_options::skip_existing);
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
        }
    }
}

// The first start: the folder is filled under a temporary name beside it and renamed into place,
// so that a program started meanwhile (a timer's grab beside the desktop program) never sees half
// of it. When another start was quicker, its folder is kept.
bool MakeUserFolder(const fs::path& installed, const fs::path& folder, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    std::string pattern = (folder.parent_path() / ".tavrin-new-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {   // private to the user: the settings hold passwords
        error = Message("Cannot create folder", folder, errno);
        return false;
    }
    const fs::path made = pattern;
    try {
        for (const char* name : kUserFolders) fs::create_directory(made / name);
        for (const char* name : {"demo", "cache"}) {
            if (!fs::is_directory(installed / name)) continue;
            CopyForUser(installed / name, made / name);
        }
    } catch (const fs::filesystem_error& e) {
        fs::remove_all(made, ec);
        error = Message("Cannot create folder", folder, e.code().value());
        return false;
    }
    if (::rename(made.c_str(), folder.c_str()) != 0) {
        const int err = errno;
        fs::remove_all(made, ec);
        if (err != EEXIST && err != ENOTEMPTY) {
            error = Message("Cannot create folder", folder, err);
            return false;
        }
    }
    return true;
}

bool IsWithin(const fs::path& path, const fs::path& folder) {
    const std::string p = path.string(), f = WithSlash(folder.string());
    return p.compare(0, f.size(), f) == 0;
}

// Links every entry of `shipped` that `linked` chooses into `own`, where `own` has no entry of that
// name. A link in `own` that leads nowhere goes first when it led into `shipped` or bears a shipped
// name; every other entry of `own` is the user's and stays as it is.
void LinkShipped(const fs::path& shipped, const fs::path& own, bool (*linked)(const std::string&)) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(own)) {
        if (!e.is_symlink() || fs::exists(e.path(), ec)) continue;
        const std::string name = e.path().filename().string();
        const bool shippedName = linked(name) && fs::exists(fs::symlink_status(shipped / name));
        if (shippedName || IsWithin(fs::read_symlink(e.path()), shipped)) fs::remove(e.path());
    }
    for (const fs::directory_entry& e : fs::directory_iterator(shipped)) {
        const std::string name = e.path().filename().string();
        const fs::path link = own / name;
        if (!linked(name) || fs::exists(fs::symlink_status(link))) continue;
        fs::create_symlink(e.path(), link, ec);
        if (ec && ec != std::errc::file_exists)   // another start may have been quicker
            throw fs::filesystem_error("Cannot create link", link, ec);
    }
}

}  // namespace

bool IsInstalledProgramFolder(const std::string& programDir) { return FileExists(programDir + kInstalledMarker); }

std::string UserProgramFolder(const char* xdgDataHome, const char* home) {
    // Relative values are to be ignored: they would depend on the folder the program starts in.
    if (xdgDataHome && xdgDataHome[0] == '/') return WithSlash(xdgDataHome) + "tavrin/";
    if (home && home[0] == '/') return WithSlash(home) + ".local/share/tavrin/";
    return "";
}

bool PrepareUserProgramFolder(const std::string& installedDir, const std::string& userDir, std::string& error) {
    const fs::path installed = fs::path(installedDir).parent_path();   // without the trailing "/"
    const fs::path folder = fs::path(userDir).parent_path();
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status) && !MakeUserFolder(installed, folder, error)) return false;
    if (fs::exists(status) && !fs::is_directory(status)) {
        error = Message("Cannot use the program folder", folder, ENOTDIR);
        return false;
    }
    try {
        for (const char* name : kUserFolders) fs::create_directories(folder / name);
        LinkShipped(installed, folder, LinkedWhole);
        if (fs::is_directory(installed / "scripts")) LinkShipped(installed / "scripts", folder / "scripts", LinkedAlways);
    } catch (const fs::filesystem_error& e) {
        error = Message("Cannot prepare the program folder", e.path1().empty() ? folder : e.path1(), e.code().value());
        return false;
    }
    return true;
}

std::optional<std::string> ProgramFolder(std::string& error) {
    const std::string programDir = ExecutableDir();
    if (!IsInstalledProgramFolder(programDir)) return programDir;
    const char* home = std::getenv("HOME");
    std::string accountHome;
    if (!home || !*home) {   // a service started without a login's environment
        if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir) accountHome = account->pw_dir;
        home = accountHome.c_str();
    }
    const std::string folder = UserProgramFolder(std::getenv("XDG_DATA_HOME"), home);
    if (folder.empty()) {
        error = "no home folder for the program folder: set HOME or XDG_DATA_HOME";
        return std::nullopt;
    }
    if (!PrepareUserProgramFolder(programDir, folder, error)) return std::nullopt;
    return folder;
}

}  // namespace platform
