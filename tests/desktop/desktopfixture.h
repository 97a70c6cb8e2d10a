// A scratch program folder for the desktop windows, with the questions answered and the messages
// recorded by the test.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "desktop/askuser.h"
#include "tests/engine/programfolder.h"
#include "util/shwmsg.h"

namespace testing_support {

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() {
        BaseDir = Folder.Root;
        SettingsDir = "settings";
        FOldConfirm = SetConfirmHandler([this](QWidget*, const QString& text) {
            Questions.push_back(text.toStdString());
            if (OnQuestion) OnQuestion(text.toStdString());
            if (Answers.empty()) {
                ADD_FAILURE() << "unexpected question: " << text.toStdString();
                return false;
            }
            const bool answer = Answers.front();
            Answers.pop_front();
            return answer;
        });
        FOldMessage = SetMessageHandler([this](const std::string& text) { Messages.push_back(text); });
    }
    ~DesktopTest() override {
        SetConfirmHandler(FOldConfirm);
        SetMessageHandler(FOldMessage);
    }

    ProgramFolder Folder;
    std::vector<std::string> Questions, Messages;
    std::deque<bool> Answers;                              // OK is true, Cancel false
    std::function<void(const std::string&)> OnQuestion;   // runs before the answer is given

private:
    TConfirmHandler FOldConfirm;
    TMessageHandler FOldMessage;
};

template <class W>
W* Find(const QObject* parent, const char* name) {
    W* w = parent->findChild<W*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace testing_support
