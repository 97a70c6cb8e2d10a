// Engine layer: the settings file held in memory: sections of key=value lines read once, looked up
// without regard to letter case, and written back as a whole through a temporary file.
#include "engine/inifile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/files.h"

static bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool ParseDecimalInt32(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + (text[i] - '0');
        if (result > 2147483648LL) return false;
    }
    if (negative) result = -result;
    if (result > 2147483647LL) return false;
    value = static_cast<int32_t>(result);
    return true;
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
    if (!platform::FileExists(FFileName)) {
        if (platform::DirectoryExists(FFileName))
            throw std::runtime_error("Cannot open file \"" + FFileName + "\": it is a folder");
        return;   // a first start: every setting takes its default
    }
    std::string content, error;
    if (!platform::ReadWholeFile(FFileName, content, &error))
        throw std::runtime_error("Cannot open file \"" + FFileName + "\". " + error);
    SetText(content);
}

void TIniFile::SetText(std::string_view text) {
    FSections.clear();
    // Editors may put a UTF-8 byte-order mark first; it would hide the first section's name.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    Section* current = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        if (line.empty() || line.front() == ';') continue;
        std::string_view trimmed = line;
        while (!trimmed.empty() && IsBlank(trimmed.back())) trimmed.remove_suffix(1);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            current = &GetOrAddSection(trimmed.substr(1, trimmed.size() - 2));
            continue;
        }
        if (!current) continue;   // lines before the first section belong to none
        Line entry;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            entry.Key = std::string(line);
            entry.HasValue = false;
        } else {
            entry.Key = std::string(line.substr(0, eq));
            entry.Value = std::string(line.substr(eq + 1));
        }
        current->Lines.push_back(std::move(entry));
    }
}

std::string TIniFile::GetText() const {
    std::string text;
    for (const Section& section : FSections) {
        text += '[';
        text += section.Name;
        text += "]\r\n";
        for (const Line& line : section.Lines) {
            text += line.Key;
            if (line.HasValue) {
                text += '=';
                text += line.Value;
            }
            text += "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

const TIniFile::Section* TIniFile::FindSection(std::string_view name) const {
    for (const Section& section : FSections)
        if (SameText(section.Name, name)) return &section;
    return nullptr;
}

TIniFile::Section& TIniFile::GetOrAddSection(std::string_view name) {
    if (const Section* found = FindSection(name)) return const_cast<Section&>(*found);
    FSections.push_back(Section{std::string(name), {}});
    return FSections.back();
}

const TIniFile::Line* TIniFile::FindLine(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const Line& line : s->Lines)
        if (line.HasValue && SameText(line.Key, key)) return &line;
    return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    const Line* line = FindLine(section, key);
    return line ? line->Value : std::string(defaultValue);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const {
    const Line* line = FindLine(section, key);
    int32_t value = 0;
    return line && ParseDecimalInt32(line->Value, value) ? value : defaultValue;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section& s = GetOrAddSection(section);
    for (Line& line : s.Lines)
        if (line.HasValue && SameText(line.Key, key)) {
            line.Value = std::string(value);
            return;
        }
    s.Lines.push_back(Line{std::string(key), std::string(value), true});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindLine(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (const Section& section : FSections) names.push_back(section.Name);
    return names;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    if (const Section* s = FindSection(section))
        for (const Line& line : s->Lines)
            if (line.HasValue) keys.push_back(line.Key);
    return keys;
}

void TIniFile::UpdateFile() const {
    std::string error;
    if (!platform::WriteFileSafely(FFileName, GetText(), &error))
        throw std::runtime_error("Cannot create file \"" + FFileName + "\". " + error);
}
