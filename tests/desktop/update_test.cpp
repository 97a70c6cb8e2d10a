#include "desktop/update.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QComboBox>

#include <memory>

#include "desktop/uabout.h"
#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"
#include "tests/net/testservers.h"

using namespace testing_support;
using testing_servers::TServerProcess;

namespace {

using Texts = std::vector<std::string>;

TEST(UpdateServersTest, EntriesLineBreaksAndALastEntryWithoutSemicolon) {
    const struct {
        const char* text;
        Texts servers;
    } cases[] = {
        {"http://a;http://b;", {"http://a", "http://b"}},   // the file's own format, exactly
        {"http://a;;http://b;", {"http://a", "", "http://b"}},
        {"http://a;http://b", {"http://a", "http://b"}},
        {"http://a;\r\nhttp://b;\r\n", {"http://a", "http://b"}},
        {"http://a\nhttp://b\n", {"http://a", "http://b"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseUpdateServers(c.text), c.servers) << c.text;
}

// Update files under <root>/<case>/update/ served as http://127.0.0.1:<port>/files/<case>.
class UpdateCheckTest : public DesktopTest {
protected:
    UpdateCheckTest() : Server("httpserver.py", {"--root", Folder.Root + "www"}) {
        Folder.Ini("[Settings]\nSaveLog=0\n");
        Run = std::make_unique<EngineRun>(Folder);
        Window = std::make_unique<TFUpdate>(Run->Engine->HTTPClient.get());
    }
    std::string Base(const std::string& name) const { return Server.URL("/files/" + name); }
    void Serve(const std::string& name, const char* update, const char* servers) const {
        if (update) WriteFile(Folder.Root + "www/" + name + "/update/TAVRIN.txt", update);
        if (servers) WriteFile(Folder.Root + "www/" + name + "/update/servers.txt", servers);
    }
    void Servers(const std::string& text) const { WriteFile(UpdateServersFile(), text); }
    std::string Field(const char* name) const { return Find<QLineEdit>(Window.get(), name)->text().toStdString(); }
    std::string Label(const char* name) const { return Find<QLabel>(Window.get(), name)->text().toStdString(); }
    std::string Check() {
        Messages.clear();
        try {
            Window->BCheckClick();
        } catch (const std::exception& e) {
            return std::string("error: ") + e.what();
        }
        return Messages.empty() ? "" : Messages.back();
    }

    TServerProcess Server;
    std::unique_ptr<EngineRun> Run;
    std::unique_ptr<TFUpdate> Window;
};

TEST_F(UpdateCheckTest, AnswersOfTheServer) {
    const std::string newList = "http://x.invalid;http://y.invalid;\r\n";
    const struct {
        const char* name;
        const char* update;    // null: none (404)
        const char* servers;   // null: none (404)
        std::string result, info, down, latest, list;
    } cases[] = {
        {"same", "3.12.00W;http://info;http://down;", nullptr, "error: HTTP Protocol error(404) downloading \"",
         "http://info", "http://down", "Latest version 3.12.00W", "old"},
        {"newer", "3.12.00w;a;b;", newList.c_str(), "Update available!", "a", "b", "Latest version 3.12.00w", newList},
        {"two-fields", "3.13.00W;info;", "", "Update available!", "info", "", "Latest version 3.13.00W", ""},
        {"no-semicolon", "3.13.00W", nullptr, "error: Cannot start string search from 0", "", "", "Latest version:",
         "old"},
        {"one-semicolon", "3.13.00W;info", nullptr, "error: Cannot start string search from 0", "", "",
         "Latest version:", "old"},
        {"missing", nullptr, nullptr, "error: HTTP Protocol error(404) downloading \"", "", "", "Latest version:", "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Window = std::make_unique<TFUpdate>(Run->Engine->HTTPClient.get());
        Servers("old");
        Serve(c.name, c.update, c.servers);
        Window->Prepare("TAVRIN", "3.12.00W");
        Find<QComboBox>(Window.get(), "CServer")->setEditText(QString::fromStdString(Base(c.name)));
        const std::string result = Check();
        EXPECT_EQ(result.substr(0, c.result.size()), c.result);
        if (c.update && c.result == "error: HTTP Protocol error(404) downloading \"") {
            EXPECT_EQ(Messages, Texts{"No updates available"});   // the first fetch's result stays shown
        }
        EXPECT_EQ(Field("EInfo"), c.info);
        EXPECT_EQ(Field("EDown"), c.down);
        EXPECT_EQ(Label("LLatVer"), c.latest);
        EXPECT_EQ(ReadFile(UpdateServersFile()), c.list);   // byte for byte, or untouched
    }
    EXPECT_EQ(Window->windowTitle(), "Check for updates for TAVRIN");
    EXPECT_EQ(Label("LCurVer"), "Current version 3.12.00W");
}

TEST_F(UpdateCheckTest, ClicksAndCloseRequestsDuringACheckWait) {
    // The check's first answer comes late; meanwhile the window is asked to check again and to close.
    Servers(Server.URL("/delay-headers?ms=400&rest=") + ";");
    Window->Prepare("TAVRIN", "3.12.00W");
    Window->show();
    int nested = 0;
    Run->Engine->HTTPClient->OnIdle = [&] {
        if (nested++ > 0) return;
        Window->BCheckClick();
        Window->close();
    };
    EXPECT_EQ(Check(), "error: Cannot start string search from 0");   // the late answer is no update file
    EXPECT_GT(nested, 0);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(testing_servers::RequestLog(Server).size(), 1u);
    EXPECT_FALSE(Window->Checking());
}

TEST_F(UpdateCheckTest, TheServersFileFillsTheListAndAMissingOneStopsTheShowing) {
    Servers("http://a.invalid;http://b.invalid;");
    Window->Prepare("TAVRIN", "3.12.00W");
    auto* list = Find<QComboBox>(Window.get(), "CServer");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1), "http://b.invalid");
    EXPECT_EQ(list->currentIndex(), 0);

    fs::remove(UpdateServersFile());
    EXPECT_THROW(Window->Prepare("TAVRIN", "3.12.00W"), std::runtime_error);
    // The shipped address is reserved and never resolves: the client's own error.
    EXPECT_EQ(ReadFile(fs::path(TAVRIN_SOURCE_DIR) / "update servers.txt"), "http://update.tavrin.invalid;");
}

TEST_F(UpdateCheckTest, AboutBoxLoadsItsPicturesOnce) {
    TFAbout about;
    about.FormShow();   // none there yet
    EXPECT_EQ(Messages, Texts{"Error loading images"});
    EXPECT_EQ(Find<QLabel>(&about, "Label7")->text(), "Released on 09/10/09");
    EXPECT_EQ(Find<QLabel>(&about, "Label5")->text(), "Tavrin Version 3.12.00W");

    QImage picture(4, 4, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    for (const char* name : TFAbout::kPictures) {
        fs::create_directories(Folder.Root + "pics");
        ASSERT_TRUE(picture.save(QString::fromStdString(Folder.Root + name), "PNG"));
    }
    Messages.clear();
    about.FormShow();
    EXPECT_TRUE(Messages.empty());
    for (const char* image : {"Image1", "Image2", "Image3", "Image4"})
        EXPECT_FALSE(Find<QLabel>(&about, image)->pixmap().isNull()) << image;
    fs::remove_all(Folder.Root + "pics");
    about.FormShow();   // loaded once: no second try
    EXPECT_TRUE(Messages.empty());
}

}  // namespace
