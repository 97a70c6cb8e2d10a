// Writing pages into the download cache: each page replaces the old one whole or not at all, and
// replacing a page costs the file system no new inode.
//
// Pages do not go through platform::SaveFile, the one way the settings, the channel files, the log
// and the XMLTV file are replaced: it makes a new file for every write and flushes it to disk, and a
// grab writes thousands of pages. Why neither suits pages:
//
// A page is written into a spare file kept in the program's temporary folder and then swapped
// with the cache file in one rename; the spare then holds the old page's file, which the next
// page overwrites. File systems without a journal keep a deleted inode out of use for minutes and
// step over every such inode when they allocate a new one, so a new file per page, with the old
// page's file deleted, made each page dearer the more pages had been replaced lately; and ext4
// starts writing a file out at once when it is renamed over another. A reader that still holds
// the old page open when the next page is written may see the next page's bytes: the host reads
// a page at once, whole, and closes it.
//
// Unlike the settings and the XMLTV file, pages are not synced to disk: that costs more than the
// download itself, and a page lost in a system crash is fetched again (an emptied one reads as
// absent).
#pragma once

#include <string>
#include <string_view>

class TCacheWriter {
public:
    // `spareFolder` ends in "/"; it is created when missing. It must not be a cache folder: the
    // spare has no place among the pages.
    explicit TCacheWriter(std::string spareFolder);
    ~TCacheWriter();  // removes the spare
    TCacheWriter(const TCacheWriter&) = delete;
    TCacheWriter& operator=(const TCacheWriter&) = delete;

    // Writes `page` as the file at `path`, creating its folder when missing. Whatever fails, the
    // path holds either the old page or the new one, never a part. Returns the reason of a
    // failure, empty on success.
    std::string Write(const std::string& path, std::string_view page);

    // The spare file, empty while there is none; for tests.
    const std::string& Spare() const { return FSpare; }

private:
    int OpenSpare(long long& oldSize);
    void DropSpare();
    bool Place(const std::string& path);
    std::string WriteBeside(const std::string& path, std::string_view page);

    std::string FFolder;
    std::string FSpare;
};
