// A test suite that talks to one local HTTP test server through a client whose log lines it keeps.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scriptapi/httpclient.h"
#include "tests/scriptapi/testservers.h"

namespace testing_servers {

class TServerClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Server = new TServerProcess("httpserver.py"); }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }

    // Each test starts with a server that has forgotten earlier requests and cookies.
    void SetUp() override {
        FetchRaw(Server->URL("/_reset"));
        Client.OnLog = [this](const std::string& text, bool debugOnly) {
            Log.push_back(std::string(debugOnly ? "debug: " : "") + text);  // debug-only lines marked
        };
    }

    static inline TServerProcess* Server = nullptr;
    THTTPClient Client;
    std::vector<std::string> Log;
};

}  // namespace testing_servers
