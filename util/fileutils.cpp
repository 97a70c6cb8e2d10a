// The recursive file search behind script discovery, temporary files and cache cleaning, and the
// separator conversion before folders are made. Support utilities layer, above platform.
#include "util/fileutils.h"

#include <algorithm>
#include <set>

#include "platform/files.h"

// `visited` holds the real paths of the folders already searched: a link that leads back to a folder
// above it would otherwise send the search round for ever.
static void Search(const std::string& folder, const std::string& mask, bool recurse, TLinks links,
                   std::vector<std::string>& list, std::set<std::string>& visited) {
    const auto isFolder = [links](const platform::DirEntry& entry) {
        return entry.IsDirectory && !(entry.IsLink && links == TLinks::AsFiles);
    };
    if (!recurse) {
        for (const auto& entry : platform::ListDirectory(folder, mask))
            if (!isFolder(entry)) list.push_back(folder + entry.Name);
        return;
    }
    const auto real = platform::CanonicalPath(folder);
    if (!real || !visited.insert(*real).second) return;
    const auto entries = platform::ListDirectory(folder, "*");
    for (const auto& entry : entries)
        if (isFolder(entry)) Search(folder + entry.Name + "/", mask, recurse, links, list, visited);
    for (const auto& entry : entries)
        if (!isFolder(entry) && platform::MatchesMask(entry.Name, mask)) list.push_back(folder + entry.Name);
}

void FindFiles(const std::string& folder, const std::string& mask, bool recurse, std::vector<std::string>& list,
               TLinks links) {
    if (folder.empty()) return;
    std::string base = folder;
    if (base.back() != '/' && base.back() != '\\') base += '/';
    std::set<std::string> visited;
    Search(base, mask, recurse, links, list, visited);
}

bool IsSingleFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (const char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

std::string ConvertSlashes(const std::string& path) {
    std::string result = path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

bool IsGzipFileName(std::string_view name) {
    if (name.size() < 3) return false;
    const std::string_view end = name.substr(name.size() - 3);
    return end[0] == '.' && (end[1] == 'g' || end[1] == 'G') && (end[2] == 'z' || end[2] == 'Z');
}
