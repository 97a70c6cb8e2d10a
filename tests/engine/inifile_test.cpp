#include "engine/inifile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tavrin-ini-XXXXXX").string();
        Path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(Path); }
    fs::path Path;
};

TEST(IniFileTest, Reading) {
    const std::string text =
        "; comment\r\n"
        "Orphan=before any section\r\n"
        "[Settings]\r\n"
        "Debug=yes\r\n"
        "CharSet=2\r\n"
        "Outfile=C:\\tv\\data.xml\r\n"
        "Formula=a=b=c\r\n"
        "Empty=\r\n"
        "\r\n"
        "   ;indented comment\r\n"
        "SortRev=2\r\n"
        "Neg=-17\r\n"
        "Plus=+5\r\n"
        "Lead=  42\r\n"
        "Trail=42 \r\n"
        "Big=2147483648\r\n"
        "Min=-2147483648\r\n"
        "Hex=$1F\r\n"
        "Trailing spaces=kept  \r\n"
        "NoEquals\n"
        "[connection]\n"
        "MaxRetries=7\n"
        "[SETTINGS]\n"
        "Later=merged\n";
    TIniFile ini;
    ini.SetText(text);
    struct Case {
        const char* section;
        const char* key;
        const char* asString;   // ReadString with default "<d>"
        int asInteger;          // ReadInteger with default -99
        int asBool;             // ReadBool with default true: 1 or 0
    } cases[] = {
        {"Settings", "Debug", "yes", -99, 1},           // yes reads as the default
        {"settings", "debug", "yes", -99, 1},           // case-insensitive section and key
        {"Settings", "CharSet", "2", 2, 1},
        {"Settings", "Outfile", "C:\\tv\\data.xml", -99, 1},
        {"Settings", "Formula", "a=b=c", -99, 1},        // everything after the first "="
        {"Settings", "Empty", "", -99, 1},
        {"Settings", "SortRev", "2", 2, 1},
        {"Settings", "Neg", "-17", -17, 1},
        {"Settings", "Plus", "+5", 5, 1},
        {"Settings", "Lead", "  42", 42, 1},
        {"Settings", "Trail", "42 ", -99, 1},
        {"Settings", "Big", "2147483648", -99, 1},
        {"Settings", "Min", "-2147483648", -2147483647 - 1, 1},
        {"Settings", "Hex", "$1F", -99, 1},
        {"Settings", "Trailing spaces", "kept  ", -99, 1},
        {"Settings", "NoEquals", "<d>", -99, 1},
        {"Settings", "Orphan", "<d>", -99, 1},
        {"Settings", "Later", "merged", -99, 1},          // a repeated section joins the first
        {"Connection", "MaxRetries", "7", 7, 1},
        {"Connection", "Missing", "<d>", -99, 1},
        {"Nowhere", "Debug", "<d>", -99, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<d>"), c.asString) << c.key;
        EXPECT_EQ(ini.ReadInteger(c.section, c.key, -99), c.asInteger) << c.key;
        EXPECT_EQ(ini.ReadBool(c.section, c.key, true), c.asBool == 1) << c.key;
    }
    EXPECT_FALSE(ini.ReadBool("Settings", "Debug", false));   // yes: the default, whichever it is
    EXPECT_FALSE(ini.ReadBool("Settings", "Empty", false));
    EXPECT_TRUE(ini.ReadBool("Settings", "SortRev", false));   // any integer but 0
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Settings", "connection"}));
    EXPECT_TRUE(ini.SectionExists("CONNECTION"));
    EXPECT_TRUE(ini.ValueExists("connection", "maxretries"));
    EXPECT_FALSE(ini.ValueExists("Settings", "NoEquals"));
}

TEST(IniFileTest, ByteOrderMarkBeforeTheFirstSection) {
    TIniFile ini;
    ini.SetText("\xEF\xBB\xBF[Settings]\r\nCharSet=3\r\n");
    EXPECT_EQ(ini.ReadInteger("Settings", "CharSet", 1), 3);
    EXPECT_EQ(ini.GetText(), "[Settings]\r\nCharSet=3\r\n\r\n");
}

TEST(IniFileTest, WritingKeepsFirstAppearanceAndLineEnds) {
    struct Case {
        const char* input;
        std::function<void(TIniFile&)> change;
        const char* output;
    } cases[] = {
        {"", [](TIniFile& i) { i.WriteString("Settings", "TimeZone", "GMT/BST"); },
         "[Settings]\r\nTimeZone=GMT/BST\r\n\r\n"},
        {"", [](TIniFile&) {}, ""},
        // A boolean read from "2" is written back as "1"; the key keeps its first spelling.
        {"[Settings]\nDebug=2\nOther=x\n",
         [](TIniFile& i) { i.WriteBool("SETTINGS", "debug", i.ReadBool("Settings", "Debug", false)); },
         "[Settings]\r\nDebug=1\r\nOther=x\r\n\r\n"},
        {"[B]\r\nk=1\r\n[A]\r\nk=2\r\n",
         [](TIniFile& i) {
             i.WriteInteger("A", "n", -5);
             i.WriteInteger("C", "k", 3);
             i.WriteBool("B", "flag", false);
         },
         "[B]\r\nk=1\r\nflag=0\r\n\r\n[A]\r\nk=2\r\nn=-5\r\n\r\n[C]\r\nk=3\r\n\r\n"},
        // Comments and empty lines are not kept; lines without "=" and other sections are.
        {"; top\n[Grab_x]\n\nkeepme\nkey=v\n[Empty]\n",
         [](TIniFile& i) { i.WriteString("Grab_x", "key", ""); },
         "[Grab_x]\r\nkeepme\r\nkey=\r\n\r\n[Empty]\r\n\r\n"},
        // Bytes pass unchanged, "=" in a value included.
        {"", [](TIniFile& i) { i.WriteString("S", "k", "\xe9\x80=\xff"); }, "[S]\r\nk=\xe9\x80=\xff\r\n\r\n"},
    };
    for (const Case& c : cases) {
        TIniFile ini;
        ini.SetText(c.input);
        c.change(ini);
        EXPECT_EQ(ini.GetText(), c.output) << c.input;
        TIniFile again;
        again.SetText(ini.GetText());
        EXPECT_EQ(again.GetText(), ini.GetText());
    }
}

TEST(IniFileTest, DiskFileReplacedWholeOrNotAtAll) {
    TempFolder temp;
    const fs::path file = temp.Path / "tavrin.ini";

    TIniFile missing(file.string());   // a first start
    EXPECT_EQ(missing.GetText(), "");
    missing.WriteInteger("GrabberOrder", "abc", 1);
    missing.UpdateFile();
    EXPECT_EQ(ReadFile(file), "[GrabberOrder]\r\nabc=1\r\n\r\n");

    TIniFile loaded(file.string());
    EXPECT_EQ(loaded.ReadInteger("GrabberOrder", "ABC", -1), 1);
    loaded.WriteBool("Grabbers", "abc", true);
    loaded.UpdateFile();
    EXPECT_EQ(ReadFile(file), "[GrabberOrder]\r\nabc=1\r\n\r\n[Grabbers]\r\nabc=1\r\n\r\n");
    // Nothing but the file itself is left in the folder.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(temp.Path)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // A settings folder that does not exist: the write fails with an error.
    TIniFile nowhere((temp.Path / "no-such-folder" / "tavrin.ini").string());
    nowhere.WriteString("Settings", "Debug", "0");
    EXPECT_THROW(nowhere.UpdateFile(), std::runtime_error);
    EXPECT_FALSE(fs::exists(temp.Path / "no-such-folder"));

    // A file that exists but cannot be read is an error, not an empty file to overwrite later.
    fs::create_directory(temp.Path / "folder.ini");
    EXPECT_THROW(TIniFile((temp.Path / "folder.ini").string()), std::runtime_error);
}

TEST(IniFileTest, StrictDecimal) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},   {"-0", true, 0},   {"007", true, 7},  {"2147483647", true, 2147483647},
        {"-2147483649", false, 0}, {"", false, 0}, {"-", false, 0}, {"1e3", false, 0},
        {"12.5", false, 0}, {" -3", true, -3}, {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(ParseDecimalInt32(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
