// A test suite that talks to one local HTTP test server through a client whose log lines it keeps.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/httpclient.h"
#include "tests/net/testservers.h"

namespace testing_servers {

// One HTTP test server for a whole test suite.
class TSharedServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Server = new TServerProcess("httpserver.py"); }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    static inline TServerProcess* Server = nullptr;
};

class TServerClientTest : public TSharedServerTest {
protected:

    // Each test starts with a server that has forgotten earlier requests and cookies.
    void SetUp() override {
        FetchRaw(Server->URL("/_reset"));
        Client.OnLog = [this](const std::string& text, bool debugOnly) {
            Log.push_back(std::string(debugOnly ? "debug: " : "") + text);  // debug-only lines marked
        };
    }

    THTTPClient Client;
    std::vector<std::string> Log;
};

}  // namespace testing_servers
