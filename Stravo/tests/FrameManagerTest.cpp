#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Stravo/CFrameManager.h"

namespace {

// A picture whose single byte names it, so the order of pictures can be followed.
uint8_t* Picture(uint8_t name) {
    auto* data = new uint8_t[3];
    memset(data, name, 3);
    return data;
}

struct Take {
    bool expectedResult;
    uint8_t expectedName;  // checked when a picture comes back
    bool expectedOwned;
    bool live = false;  // TakeLiveFrame instead of TakeFrame
};

struct QueueCase {
    std::string name;
    std::vector<uint8_t> pushedBefore;  // names of pictures pushed first
    bool pushNullAfter;
    std::vector<Take> takes;
    int32_t expectedCount;
};

void PrintTo(const QueueCase& queueCase, std::ostream* out) {
    *out << queueCase.name;
}

class FrameManagerTest : public ::testing::TestWithParam<QueueCase> {
protected:
    void TearDown() override { CFrameManager::Destroy(); }
};

TEST_P(FrameManagerTest, TakesInOrderAndKeepsTheLastPicture) {
    const QueueCase& queueCase = GetParam();
    CFrameManager* queue = CFrameManager::Instance();
    for (uint8_t name : queueCase.pushedBefore) {
        queue->PushFrame(1, 1, Picture(name), 3);
    }
    if (queueCase.pushNullAfter) {
        queue->PushFrame(0, 0, nullptr, 0);
    }
    for (size_t i = 0; i < queueCase.takes.size(); ++i) {
        const Take& take = queueCase.takes[i];
        QueuedFrame frame{-7, -7, nullptr, -7};
        bool owned = false;
        const bool taken =
            take.live ? queue->TakeLiveFrame(frame, owned) : queue->TakeFrame(frame, owned);
        ASSERT_EQ(taken, take.expectedResult) << "take " << i;
        if (!take.expectedResult) {
            EXPECT_EQ(frame.width, -7) << "an empty queue writes nothing";
            EXPECT_EQ(frame.data, nullptr);
            continue;
        }
        ASSERT_NE(frame.data, nullptr);
        EXPECT_EQ(frame.data[0], take.expectedName) << "take " << i;
        EXPECT_EQ(frame.size, 3);
        EXPECT_EQ(owned, take.expectedOwned) << "take " << i;
        if (owned) {
            delete[] frame.data;
        }
    }
    EXPECT_EQ(queue->GetCount(), queueCase.expectedCount);
}

std::vector<uint8_t> Names(uint8_t first, uint8_t last) {
    std::vector<uint8_t> names;
    for (int name = first; name <= last; ++name) {
        names.push_back(static_cast<uint8_t>(name));
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameManagerTest,
    ::testing::Values(
        QueueCase{"Empty", {}, false, {{false, 0, false}}, 0},
        QueueCase{"OnePictureIsLentAgainAndAgain",
                  {5},
                  false,
                  {{true, 5, false}, {true, 5, false}, {true, 5, false}},
                  1},
        QueueCase{"OldestFirstThenLastStays",
                  {1, 2, 3},
                  false,
                  {{true, 1, true}, {true, 2, true}, {true, 3, false}, {true, 3, false}},
                  1},
        // A push onto 21 pictures frees the oldest and appends: the queue holds 21.
        QueueCase{"PushOnFullDropsOldest", Names(1, 22), false, {{true, 2, true}}, 20},
        QueueCase{"NullPushOnFullOnlyDrops", Names(1, 21), true, {{true, 2, true}}, 19},
        QueueCase{"NullPushBelowBoundChangesNothing", {1, 2}, true, {{true, 1, true}}, 1},
        // More than two waiting: the older ones are freed and the newest stays for repeats.
        QueueCase{"LiveTakeSkipsToTheNewest",
                  Names(1, 5),
                  false,
                  {{true, 5, false, true}, {true, 5, false, true}},
                  1},
        QueueCase{"LiveTakeOfAFullQueue", Names(1, 30), false, {{true, 30, false, true}}, 1},
        QueueCase{"LiveTakeWithTwoWaitingKeepsOrder",
                  {1, 2},
                  false,
                  {{true, 1, true, true}, {true, 2, false, true}},
                  1},
        QueueCase{"LiveTakeOfAnEmptyQueue", {}, false, {{false, 0, false, true}}, 0}),
    [](const ::testing::TestParamInfo<QueueCase>& info) { return info.param.name; });

TEST(FrameManagerFlowTest, RepeatedPictureIsHandedOutOnceMoreWhenANewOneArrives) {
    CFrameManager* queue = CFrameManager::Instance();
    queue->PushFrame(1, 1, Picture(1), 3);
    QueuedFrame frame;
    bool owned = false;
    ASSERT_TRUE(queue->TakeFrame(frame, owned));
    EXPECT_FALSE(owned);
    queue->PushFrame(1, 1, Picture(2), 3);

    ASSERT_TRUE(queue->TakeFrame(frame, owned));
    EXPECT_EQ(frame.data[0], 1);
    EXPECT_TRUE(owned);
    delete[] frame.data;
    ASSERT_TRUE(queue->TakeFrame(frame, owned));
    EXPECT_EQ(frame.data[0], 2);
    EXPECT_FALSE(owned);
    CFrameManager::Destroy();
}

// The consumer copies a lent picture outside the lock. If the picture leaves the queue
// meanwhile, its bytes must stay valid until the consumer takes again.
TEST(FrameManagerFlowTest, LentPictureSurvivesLeavingTheQueueUntilTheNextTake) {
    struct Departure {
        const char* name;
        std::function<void(CFrameManager*)> action;
        int32_t expectedCount;
        uint8_t expectedNext;
    };
    const Departure departures[] = {
        {"21 pushes",
         [](CFrameManager* queue) {
             for (uint8_t name : Names(10, 30)) queue->PushFrame(1, 1, Picture(name), 3);
         },
         21, 10},
        {"a push beyond the memory bound",
         [](CFrameManager* queue) {
             queue->PushFrame(1, 1, Picture(10), std::numeric_limits<int32_t>::max());
         },
         1, 10},
        {"clear", [](CFrameManager* queue) { queue->Clear(); }, 0, 0},
    };
    for (const Departure& departure : departures) {
        SCOPED_TRACE(departure.name);
        CFrameManager* queue = CFrameManager::Instance();
        queue->PushFrame(1, 1, Picture(9), 3);
        QueuedFrame lent;
        bool owned = false;
        ASSERT_TRUE(queue->TakeFrame(lent, owned));
        ASSERT_FALSE(owned);
        departure.action(queue);
        EXPECT_EQ(queue->GetCount(), departure.expectedCount);
        EXPECT_EQ(lent.data[0], 9) << "read after it left (AddressSanitizer checks the access)";

        QueuedFrame next;
        EXPECT_EQ(queue->TakeFrame(next, owned), departure.expectedCount > 0);
        if (departure.expectedCount > 0) {
            EXPECT_EQ(next.data[0], departure.expectedNext);
            if (owned) delete[] next.data;
        }
        CFrameManager::Destroy();
    }
}

// Large pictures are bounded by their bytes before their count: the oldest go first, the
// newest is always kept.
TEST(FrameManagerFlowTest, MemoryBoundDropsTheOldestAndKeepsTheNewest) {
    CFrameManager* queue = CFrameManager::Instance();
    // The sizes are what the queue accounts; the bytes behind them are never read here.
    const auto third = static_cast<int32_t>(CFrameManager::kMaxQueuedBytes / 3);
    for (uint8_t name : {1, 2, 3}) queue->PushFrame(1, 1, Picture(name), third);
    EXPECT_EQ(queue->GetCount(), 3) << "exactly at the bound";
    queue->PushFrame(1, 1, Picture(4), 3);
    EXPECT_EQ(queue->GetCount(), 3);
    QueuedFrame frame;
    bool owned = false;
    ASSERT_TRUE(queue->TakeFrame(frame, owned));
    EXPECT_EQ(frame.data[0], 2);
    delete[] frame.data;

    queue->PushFrame(1, 1, Picture(5), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(queue->GetCount(), 1);
    ASSERT_TRUE(queue->TakeFrame(frame, owned));
    EXPECT_EQ(frame.data[0], 5);
    EXPECT_FALSE(owned);
    CFrameManager::Destroy();
}

TEST(FrameManagerFlowTest, ClearFreesEverythingAndEmpties) {
    CFrameManager* queue = CFrameManager::Instance();
    for (uint8_t name : Names(1, 5)) {
        queue->PushFrame(1, 1, Picture(name), 3);
    }
    queue->Clear();
    EXPECT_EQ(queue->GetCount(), 0);
    QueuedFrame frame;
    bool owned = false;
    EXPECT_FALSE(queue->TakeFrame(frame, owned));
    CFrameManager::Destroy();
}

}  // namespace
