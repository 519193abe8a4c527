#include <gtest/gtest.h>

#include <cstring>
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
        ASSERT_EQ(queue->TakeFrame(frame, owned), take.expectedResult) << "take " << i;
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
        QueueCase{"NullPushBelowBoundChangesNothing", {1, 2}, true, {{true, 1, true}}, 1}),
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

// The consumer copies a lent picture outside the lock. If 21 pushes arrive meanwhile, the
// picture leaves the queue, but its bytes must stay valid until the consumer takes again.
TEST(FrameManagerFlowTest, LentPictureSurvivesBeingDroppedUntilTheNextTake) {
    CFrameManager* queue = CFrameManager::Instance();
    queue->PushFrame(1, 1, Picture(9), 3);
    QueuedFrame lent;
    bool owned = false;
    ASSERT_TRUE(queue->TakeFrame(lent, owned));
    ASSERT_FALSE(owned);
    for (uint8_t name : Names(10, 30)) {
        queue->PushFrame(1, 1, Picture(name), 3);
    }
    EXPECT_EQ(queue->GetCount(), 21);
    EXPECT_EQ(lent.data[0], 9) << "read after the drop (AddressSanitizer checks the access)";

    QueuedFrame next;
    ASSERT_TRUE(queue->TakeFrame(next, owned));
    EXPECT_EQ(next.data[0], 10);
    EXPECT_TRUE(owned);
    delete[] next.data;
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
