// The settings file held in memory: sections of key=value lines, read once and written as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Section and key names are compared without regard to (ASCII) letter case; values are bytes, kept
// without conversion. Sections and keys keep their order of first appearance and the spelling they
// first had.
class TIniFile {
public:
    TIniFile() = default;
    // Reads the file. A file that does not exist gives an empty ini file; one that exists but cannot
    // be read raises std::runtime_error (writing defaults over it later would lose the settings).
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }

    // Replaces the content by the parsed text / gives the content as it is written to disk.
    void SetText(std::string_view text);
    std::string GetText() const;

    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // A value that is not a decimal 32-bit integer reads as the default.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
    // True for any integer other than 0; a value that is not an integer reads as the default.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);   // "1" or "0"

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(std::string_view section) const;   // its keys, in order

    // Writes the whole file to FileName through a temporary file renamed over it, so the old file
    // survives any failure. Raises std::runtime_error when it cannot be written (for example when
    // the folder does not exist).
    void UpdateFile() const;

private:
    struct Line {
        std::string Key;     // the text before the first "=", or the whole line when there is none
        std::string Value;
        bool HasValue = true;   // false for a line without "=": kept and written back as it was
    };
    struct Section {
        std::string Name;
        std::vector<Line> Lines;
    };

    const Section* FindSection(std::string_view name) const;
    Section& GetOrAddSection(std::string_view name);
    const Line* FindLine(std::string_view section, std::string_view key) const;

    std::string FFileName;
    std::vector<Section> FSections;
};

// Strict decimal reading used by the ini file: optional leading blanks, an optional sign, digits,
// nothing after them, within the 32-bit range.
bool ParseDecimalInt32(std::string_view text, int32_t& value);
