// File helpers: the recursive file search used for script discovery, temporary files and cache
// cleaning, and the separator conversion applied before folders are created.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// How the search treats symbolic links. Follow looks through them (a scripts folder may be linked
// in); AsFiles lists every link as a file of its own and never descends through one, for walks that
// delete what they find: deleting the entry then removes the link, not what it leads to.
enum class TLinks { Follow, AsFiles };

// Appends to `list` every file below `folder` whose name matches `mask` (Windows wildcards, letter
// case ignored). With `recurse`, each sub-folder is searched completely before the folder's own
// files. Entries are folder + "/" (unless the folder ends in a separator) + relative path, with "/"
// inside the relative part. Folders themselves are never listed; unreadable folders add nothing.
void FindFiles(const std::string& folder, const std::string& mask, bool recurse, std::vector<std::string>& list,
               TLinks links = TLinks::Follow);

// Whether a text can name one folder inside another, and no more: not empty, not "." or "..", no
// separator ("/" or "\\"), no NUL or other control byte, at most 255 bytes. Script IDs name folders.
bool IsSingleFolderName(const std::string& name);

// The path with every "/" turned into "\". The file layer accepts either separator.
std::string ConvertSlashes(const std::string& path);

// A file name ending in ".gz" (letter case ignored): such an output file is written, and mailed,
// gzip-compressed.
bool IsGzipFileName(std::string_view name);
