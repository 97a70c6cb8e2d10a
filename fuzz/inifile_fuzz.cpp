// Fuzz target: the settings reader. The input is a settings file. What it reads must survive the
// engine's write-back unchanged: the text written for it reads as the same sections, keys and values
// and is written again byte for byte, and integers and values written over it read back as written.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/inifile.h"
#include "fuzz/fuzzinput.h"

namespace {

// Every section with its keys and what each reads as.
std::vector<std::string> Contents(const TIniFile& ini) {
    std::vector<std::string> out;
    for (const std::string& section : ini.ReadSections()) {
        FUZZ_CHECK(ini.SectionExists(section), "a listed section that does not exist");
        out.push_back("[" + section + "]");
        for (const std::string& key : ini.ReadSection(section)) {
            FUZZ_CHECK(ini.ValueExists(section, key), "a listed key without a value");
            out.push_back(key + "=" + ini.ReadString(section, key, "(default)"));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFuzzInput in(data, size);
    const std::string_view text = in.Rest();

    TIniFile ini;
    ini.SetText(text);
    const std::vector<std::string> read = Contents(ini);
    const std::string written = ini.GetText();

    TIniFile again;
    again.SetText(written);
    FUZZ_CHECK(Contents(again) == read, "the written file reads differently");
    FUZZ_CHECK(again.GetText() == written, "the written file is written differently");

    // Integers and single-line values written over what was read come back as written.
    int32_t number = 0;
    for (const std::string& section : ini.ReadSections()) {
        for (const std::string& key : ini.ReadSection(section)) {
            const std::string value = ini.ReadString(section, key, "");
            if (ParseDecimalInt32(value, number)) {
                FUZZ_CHECK(ini.ReadInteger(section, key, number ^ 1) == number, "an integer read two ways");
                FUZZ_CHECK(ini.ReadBool(section, key, number == 0) == (number != 0), "a truth read as integer");
            }
            const int32_t length = static_cast<int32_t>(value.size());
            ini.WriteInteger(section, key, -length);
            FUZZ_CHECK(ini.ReadInteger(section, key, 1) == -length, "an integer written and read");
            std::string changed = value + "x";
            for (char& c : changed)
                if (c == '\n') c = ' ';  // values are one line each
            ini.WriteString(section, key, changed);
        }
    }
    TIniFile reread;
    reread.SetText(ini.GetText());
    FUZZ_CHECK(Contents(reread) == Contents(ini), "values written and read");
    return 0;
}
