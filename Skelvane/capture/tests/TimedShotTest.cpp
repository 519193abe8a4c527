#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Skelvane/capture/SaverThread.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TimedShot.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "Skelvane/settings/SettingParam.h"

namespace {

using namespace std::chrono_literals;

// Waits with a generous bound for a condition another thread brings about.
template <class Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class TimedShotTest : public CaptureTest {
protected:
    // Runs the schedule step for frames at the given ms after the run's start; gives for
    // each frame whether it was queued ('s'), ended the run ('e'), both ('E') or neither ('.').
    std::string Run(FakeOwner& owner, const std::vector<int64_t>& offsets) {
        TestFrame frame(8, 8);
        const int64_t start = nowMs_;
        TimedShotClock clock;
        StartTimedShotClock(clock);
        std::string marks;
        for (int64_t offset : offsets) {
            nowMs_ = start + offset;
            const size_t eventsBefore = owner.Events().size();
            const bool queued = TimedShotStep(clock, owner, frame.Buffer());
            const bool ended = owner.Events().size() > eventsBefore;
            marks += queued ? (ended ? 'E' : 's') : (ended ? 'e' : '.');
        }
        EXPECT_EQ(TimedShotQueue().Size(),
                  static_cast<size_t>(std::count_if(marks.begin(), marks.end(),
                                                    [](char c) { return c == 's' || c == 'E'; })));
        ClearTimedShotQueue();
        return marks;
    }

    static std::vector<int64_t> Every(int64_t interval, int count) {
        std::vector<int64_t> offsets;
        for (int i = 0; i < count; ++i) offsets.push_back(i * interval);
        return offsets;
    }
};

TEST_F(TimedShotTest, PeriodAndLengthFromTheSettings) {
    struct Case {
        int32_t shotstype, shotsvalue, periodMs;
    };
    for (const Case& c :
         {Case{kUnitMinute, 60, 1000}, Case{kUnitMinute, 300, 200}, Case{kUnitDay, 7, 12342857}}) {
        CSettingParam param;
        param.shotstype = c.shotstype;
        param.shotsvalue = c.shotsvalue;
        EXPECT_EQ(TimedShotPeriodMs(param.GetShotsPerDay()), c.periodMs) << c.shotsvalue;
    }
    EXPECT_EQ(TimedShotHoursOf(1), 1.0f / 60);
    EXPECT_EQ(TimedShotHoursOf(432000), 7200.0f);
}

TEST_F(TimedShotTest, ScheduleTakesFramesAtThePeriodAndCatchesUp) {
    struct Case {
        const char* title;
        int32_t periodMs;
        float hours;
        std::vector<int64_t> offsets;
        std::string marks;
    };
    const Case cases[] = {
        {"60 per minute, frames every 100 ms", 1000, 1.0f, Every(100, 31),
         "s.........s.........s.........s"},
        {"5 fps camera, 100 ms period: every frame", 100, 1.0f, Every(200, 10), "ssssssssss"},
        {"a slow stretch is caught up, then the period holds",
         100,
         1.0f,
         {0, 500, 550, 600, 650, 700, 720, 740, 760, 840},
         "ssssssss.s"},
        {"1 minute ends just after 60000 ms",
         60000,
         TimedShotHoursOf(1),
         {0, 59999, 60000, 60001, 60002},
         "s.see"},
    };
    for (const Case& c : cases) {
        FakeOwner owner;
        owner.shotPeriodMs = c.periodMs;
        owner.timedShotHours = c.hours;
        EXPECT_EQ(Run(owner, c.offsets), c.marks) << c.title;
    }
}

TEST_F(TimedShotTest, ThreeHundredDaysStayOnScheduleIn64Bits) {
    FakeOwner owner;
    owner.shotPeriodMs = TimedShotPeriodMs(1440);  // one a minute
    owner.timedShotHours = TimedShotHoursOf(432000);
    TestFrame frame(8, 8);
    const int64_t start = nowMs_;
    const int64_t shots = 431000;  // about 299 days: shots x period is far beyond 32 bits
    TimedShotClock clock;
    clock.timedShotStart = start;
    nowMs_ = start + shots * 60000 + 500;
    clock.lastShotTime = nowMs_ - 500;

    clock.shotsTaken = static_cast<int32_t>(shots + 1);  // on schedule: not due
    EXPECT_FALSE(TimedShotStep(clock, owner, frame.Buffer()));
    clock.shotsTaken = static_cast<int32_t>(shots);  // one behind: due
    EXPECT_TRUE(TimedShotStep(clock, owner, frame.Buffer()));
    EXPECT_TRUE(owner.Events().empty());

    nowMs_ = start + int64_t{300} * 86400000 + 1;
    TimedShotStep(clock, owner, frame.Buffer());
    EXPECT_EQ(owner.Events(), std::vector<int>{UM_TIMED_SHOT_END});
}

TEST_F(TimedShotTest, ARunOfThreeSecondsWritesItsShotsAndEnds) {
    UseSettings(0, 64, 48);
    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
    FakeOwner owner;
    owner.shotPeriodMs = TimedShotPeriodMs(86400);  // 60 a minute
    owner.timedShotHours = 3.0f / 3600;
    CSaverThread saver;
    ASSERT_TRUE(saver.Start([&] { TimedShotSaverProc(owner, saver.RunFlag()); }));

    ASSERT_TRUE(CSavingLoactionManage::Instance()->BeginTimedShotRun(TimedShots()));
    TimedShotClock clock;
    StartTimedShotClock(clock);
    owner.timedShotRunning = 1;
    TestFrame frame = TestFrame::Quadrants(64, 48);
    // Frames every 100 ms until the window would end the run.
    while (owner.Events().empty()) {
        TimedShotStep(clock, owner, frame.Buffer());
        nowMs_ += 100;
    }
    owner.timedShotRunning = 0;

    const std::vector<std::string> expected = {"T20160406_001_0001.jpg", "T20160406_001_0002.jpg",
                                               "T20160406_001_0003.jpg", "T20160406_001_0004.jpg"};
    EXPECT_TRUE(Eventually([&] { return owner.Revealed().size() == expected.size(); }));
    saver.Stop(WakeTimedShotSaver);
    EXPECT_EQ(Listing(TimedShots()), expected);
    EXPECT_EQ(owner.Revealed().front(), TimedShots() + "/" + expected.front());
    EXPECT_EQ(DecodeJpegFile(TimedShots() + "/" + expected.back()).width, 64);
    EXPECT_EQ(owner.Events(), std::vector<int>{UM_TIMED_SHOT_END});
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(TimedShotTest, AFolderThatCannotBeWrittenEndsTheRunAndDropsTheQueue) {
    Place(folder_, "plain.txt");
    UseSettings(0, 64, 48);
    SetSavingFolder(folder_ + "/plain.txt");
    ASSERT_TRUE(CSavingLoactionManage::Instance()->BeginTimedShotRun(
        CSettingParamManage::Instance()->GetCurrent().GetTimedShotsFolder()));
    const std::vector<std::string> before = Listing(folder_);

    FakeOwner owner;
    owner.shotPeriodMs = 100;
    TimedShotClock clock;
    StartTimedShotClock(clock);
    TestFrame frame = TestFrame::Quadrants(64, 48);
    for (int i = 0; i < 3; ++i, nowMs_ += 100)
        ASSERT_TRUE(TimedShotStep(clock, owner, frame.Buffer()));

    CSaverThread saver;
    ASSERT_TRUE(saver.Start([&] { TimedShotSaverProc(owner, saver.RunFlag()); }));
    EXPECT_TRUE(
        Eventually([&] { return !owner.Events().empty() && TimedShotQueue().Size() == 0; }));
    saver.Stop(WakeTimedShotSaver);

    EXPECT_EQ(owner.Events(), std::vector<int>{UM_TIMED_SHOT_END});
    ASSERT_EQ(boxes_->Texts().size(), 1u);
    EXPECT_EQ(boxes_->Texts()[0], "Save file " + folder_ +
                                      "/plain.txt/Skelvane/Timed Shots/T20160406_001_0001.jpg "
                                      "failureNot a directory");
    EXPECT_TRUE(owner.Revealed().empty());
    EXPECT_EQ(Listing(folder_), before);
}

TEST(SaverThreadTest, StoppingOneSaverLeavesAnotherRunning) {
    CSaverThread first;
    CSaverThread second;
    std::atomic<bool> secondEnded{false};
    std::mutex lock;
    std::condition_variable wake;
    const auto waitWhileRunning = [&](const CSaverThread& saver) {
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [&] { return !saver.RunFlag().load(); });
    };
    const auto notify = [&] {
        std::lock_guard<std::mutex> guard(lock);
        wake.notify_all();
    };
    ASSERT_TRUE(first.Start([&] { waitWhileRunning(first); }));
    ASSERT_TRUE(second.Start([&] {
        waitWhileRunning(second);
        secondEnded = true;
    }));
    first.Stop(notify);
    EXPECT_FALSE(first.IsRunning());
    EXPECT_TRUE(second.RunFlag().load());
    EXPECT_FALSE(secondEnded.load());
    second.Stop(notify);
    EXPECT_TRUE(secondEnded.load());
}

}  // namespace
