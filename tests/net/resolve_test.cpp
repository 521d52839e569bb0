#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <thread>

#include "net/resolve.h"

using namespace zk;

namespace {

class Resolve : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(resolve_init(), 0); }
    void TearDown() override { resolve_term(); }

    // Polls as the task loop would until every variable is final.
    static bool settle(std::initializer_list<uint32_t*> vars, int ms = 5000) {
        for (int waited = 0; waited < ms; waited += 5) {
            resolve_poll();
            bool all = true;
            for (uint32_t* v : vars) all = all && *v != 0;
            if (all) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

}  // namespace

TEST_F(Resolve, TwoCallersShareOneLookUpAndGetTheAnswerOnlyWhenPolled) {
    uint32_t a = 123, b = 456;
    int ha = resolve("localhost", &a);
    int hb = resolve("localhost", &b);
    EXPECT_NE(ha, 0);
    EXPECT_NE(hb, 0);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(a, 0u) << "pending reads 0";
    EXPECT_EQ(b, 0u);
    // The worker answers quickly, but nothing is written outside a poll.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(a, 0u);
    ASSERT_TRUE(settle({&a, &b}));
    EXPECT_EQ(a, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(b, a);
    EXPECT_EQ(resolve_lookups_started(), 1);
}

TEST_F(Resolve, FailingNameIsTriedFourTimesThenAnsweredAllOnesFromTheCache) {
    uint32_t a = 0, b = 0;
    EXPECT_NE(resolve("bad..name", &a), 0);
    EXPECT_NE(resolve("localhost", &b), 0);
    ASSERT_TRUE(settle({&a, &b}));
    EXPECT_EQ(a, resolve_failed);
    EXPECT_EQ(b, htonl(INADDR_LOOPBACK)) << "each name has its own entry";
    EXPECT_EQ(resolve_lookups_started(), 5);

    uint32_t again = 7;
    EXPECT_EQ(resolve("bad..name", &again), 0);
    EXPECT_EQ(again, resolve_failed);
    EXPECT_EQ(resolve_lookups_started(), 5) << "no new look-up for a known failure";
    uint32_t c = 0;
    EXPECT_NE(resolve("LOCALHOST", &c), 0) << "another spelling is another entry";
    ASSERT_TRUE(settle({&c}));
}

TEST_F(Resolve, TermCancelsWaitersSoTheirVariablesAreNeverWritten) {
    uint32_t a = 0;
    resolve("localhost", &a);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    resolve_term();
    resolve_poll();
    EXPECT_EQ(a, 0u);
    ASSERT_EQ(resolve_init(), 0);
    uint32_t b = 0;
    EXPECT_NE(resolve("localhost", &b), 0) << "the cache went with the resolver";
    ASSERT_TRUE(settle({&b}));
}

TEST(ResolveWithoutWorker, AnswersAllOnesAtOnceButADottedAddressAsItIs) {
    uint32_t a = 0;
    EXPECT_EQ(resolve("localhost", &a), 0);
    EXPECT_EQ(a, resolve_failed);
    uint32_t b = 0;
    EXPECT_EQ(resolve("10.1.2.3", &b), 0);
    EXPECT_EQ(b, htonl(0x0A010203));
}
