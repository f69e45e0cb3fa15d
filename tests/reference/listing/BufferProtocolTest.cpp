// The exports' buffer protocol: the fill call writes what its own thread's
// size call announced, whatever happened in between, and nothing without one.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "listing/ListScene.h"

namespace {

using nlohmann::json;

constexpr char kUntouched = '\x5A';

class BufferProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        scope->token()->Import(TestPki::Shared().rsa, "01", "rsa identity");
    }
    std::unique_ptr<ControlScope> scope;
    ListLibrary library;
};

size_t CertCount(const char* text) {
    return json::parse(text).at("certs").size();
}

TEST_F(BufferProtocolTest, TokenPulledBetweenTheCallsChangesNothingWritten) {
    bool fresh = true;
    for (zqt_cert_seal_list_fn listExport : {library.full(), library.compact()}) {
        if (!fresh)
            SetUp();  // the token is back for the other export
        fresh = false;
        const int32_t size = listExport(nullptr);
        ASSERT_GT(size, 0);
        scope->token()->Delete();
        std::vector<char> buffer(static_cast<size_t>(size) + 4096, kUntouched);
        listExport(buffer.data());
        EXPECT_EQ(std::strlen(buffer.data()), static_cast<size_t>(size) - 1);
        EXPECT_EQ(buffer[static_cast<size_t>(size)], kUntouched);
        EXPECT_EQ(CertCount(buffer.data()), 1u) << "the list the size call announced";
        EXPECT_EQ(listExport(nullptr), 0) << "the next read sees the token gone";
    }
}

TEST_F(BufferProtocolTest, TokenPluggedBetweenTheCallsCannotOverflow) {
    ControlScope empty(false);
    const int32_t size = library.compact()(nullptr);
    ASSERT_EQ(size, 0);
    scope = std::make_unique<ControlScope>(true);  // now there is a list
    scope->token()->Import(TestPki::Shared().rsa, "01", "rsa identity");
    std::vector<char> buffer(64, kUntouched);
    library.compact()(buffer.data());
    EXPECT_EQ(buffer, std::vector<char>(64, kUntouched)) << "announced nothing, wrote something";
}

TEST_F(BufferProtocolTest, FillWithoutSizeCallWritesNothing) {
    std::vector<char> buffer(256, kUntouched);
    std::thread([&] { library.full()(buffer.data()); }).join();
    EXPECT_EQ(buffer, std::vector<char>(256, kUntouched));

    // A second fill after a complete read: its list was handed over already.
    const std::string once = ReadByProtocol(library.full());
    ASSERT_FALSE(once.empty());
    library.full()(buffer.data());
    EXPECT_EQ(buffer, std::vector<char>(256, kUntouched));
}

// A thread's size call, then its fill call when the test lets it.
struct Reader {
    std::promise<int32_t> sized;
    std::promise<void> mayFill;
    std::vector<char> filled;
    std::thread thread;

    explicit Reader(zqt_cert_seal_list_fn listExport) {
        thread = std::thread([this, listExport] {
            const int32_t size = listExport(nullptr);
            sized.set_value(size);
            mayFill.get_future().wait();
            filled.assign(static_cast<size_t>(size > 0 ? size : 0) + 64, kUntouched);
            listExport(filled.data());
        });
    }
};

TEST_F(BufferProtocolTest, TwoThreadsReadingAtOnceGetTheirOwnLists) {
    Reader first(library.full());
    const int32_t firstSize = first.sized.get_future().get();
    scope->token()->Import(TestPki::Shared().ec, "02", "ec identity");
    Reader second(library.full());
    const int32_t secondSize = second.sized.get_future().get();
    second.mayFill.set_value();  // the later reader fills first
    second.thread.join();
    first.mayFill.set_value();
    first.thread.join();

    ASSERT_GT(firstSize, 0);
    ASSERT_GT(secondSize, firstSize);
    EXPECT_EQ(std::strlen(first.filled.data()), static_cast<size_t>(firstSize) - 1);
    EXPECT_EQ(std::strlen(second.filled.data()), static_cast<size_t>(secondSize) - 1);
    EXPECT_EQ(CertCount(first.filled.data()), 1u);
    EXPECT_EQ(CertCount(second.filled.data()), 2u);
}

}  // namespace
