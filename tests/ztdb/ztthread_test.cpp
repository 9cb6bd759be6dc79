// Long jobs: inline and threaded runs, their end notice, stops, waits and the batch stand-in.
#include "ztdb/ztthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch_standin.h"
#include "ztfile_helpers.h"

namespace {

// A job of `units` progress reports, each one after checking the running flag. With `blocking`
// its first run waits until it is asked to stop.
class CountingJob : public ZTThread {
  public:
    CountingJob(ZTFile* file, bool threaded, int units) : ZTThread(file, threaded), units_(units) {}
    ~CountingJob() override {
        waitForEnd();
        if (onDestroyed) onDestroyed();
    }

    void run() override {
        log.push_back("enter " + std::to_string(++runs));
        if (blocking && runs == 1) (void)waitUntil([] { return false; });
        for (int i = 1; i <= units_ && isRunning(); ++i) {
            ++done;
            notify(kZTCodeProgress, 0, uintptr_t(i));
        }
        log.push_back("exit " + std::to_string(runs));
    }

    bool blocking = false;
    int runs = 0;
    std::atomic<int> done{0};
    std::vector<std::string> log;
    std::function<void()> onDestroyed;

  private:
    int units_;
};

// Records the codes; waitForEnd stops a job, so tests that want the whole work wait for the
// end notices first.
struct Codes {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> codes;
    int ends = 0;
    uint32_t answerToEnd = 0;
    static uint32_t callback(uint32_t code, uintptr_t, uintptr_t, void* context) {
        auto* self = static_cast<Codes*>(context);
        std::lock_guard<std::mutex> guard(self->mutex);
        self->codes.push_back(code);
        if (code == kZTCodeJobFinished) ++self->ends;
        self->changed.notify_all();
        return code == kZTCodeJobFinished ? self->answerToEnd : 0;
    }
    void awaitEnds(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ends >= n; });
    }
};

struct Database {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file{base.c_str()};
    Database() { EXPECT_EQ(file.open(3, false), 3u); }
};

bool openExclusive(const std::string& base) {
    ZTFile probe(base.c_str());
    return (probe.open(7, false) & 7) == 7;
}

}  // namespace

TEST(ZTThreadTest, InlineRunsSendNoEndNoticeThreadedRunsDo) {
    Database db;
    for (bool threaded : {false, true}) {
        Codes codes;
        CountingJob job(&db.file, threaded, 3);
        ASSERT_TRUE(job.start(&Codes::callback, &codes));
        if (threaded) codes.awaitEnds(1);
        if (!threaded) {
            EXPECT_EQ(job.done.load(), 3) << "an inline run ends before start returns";
        }
        job.waitForEnd();
        std::vector<uint32_t> want{37, 37, 37};
        if (threaded) want.push_back(kZTCodeJobFinished);
        EXPECT_EQ(codes.codes, want) << (threaded ? "threaded" : "inline");
        EXPECT_EQ(job.ownsFile(), threaded);
    }
}

TEST(ZTThreadTest, WaitForEndLeavesNoThreadAndTheJobsFileGoesWithIt) {
    Database db;
    auto* job = new CountingJob(&db.file, true, 50);
    db.file.close();  // the job works on its own copy
    ASSERT_NE(job->getThreadFile(), nullptr);
    Codes codes;
    ASSERT_TRUE(job->start(&Codes::callback, &codes));
    codes.awaitEnds(1);
    job->waitForEnd();
    EXPECT_EQ(job->done.load(), 50);
    EXPECT_FALSE(job->isActive());
    EXPECT_FALSE(openExclusive(db.base)) << "the job's copy is still open";
    delete job;
    EXPECT_TRUE(openExclusive(db.base)) << "no descriptor of the job is left";
}

TEST(ZTThreadTest, ASecondStartStopsAndWaitsForTheFirst) {
    Database db;
    CountingJob job(&db.file, true, 2);
    job.blocking = true;
    Codes codes;
    ASSERT_TRUE(job.start(&Codes::callback, &codes));
    // The first run waits until it is asked to stop; the second start asks and waits.
    ASSERT_TRUE(job.start(&Codes::callback, &codes));
    codes.awaitEnds(2);
    job.waitForEnd();
    EXPECT_EQ(job.log, (std::vector<std::string>{"enter 1", "exit 1", "enter 2", "exit 2"}));
    EXPECT_EQ(job.done.load(), 2) << "the stopped first run did no units, the second all";
}

TEST(ZTThreadTest, AnAnswerOfMinusTwoToTheEndNoticeDeletesTheJob) {
    Database db;
    Codes codes;
    codes.answerToEnd = kZTAnswerDelete;
    std::mutex mutex;
    std::condition_variable gone;
    bool destroyed = false;
    // The job deletes itself on its own thread; nobody else may touch it after start.
    auto* job = new CountingJob(&db.file, true, 1);
    job->onDestroyed = [&] {
        std::lock_guard<std::mutex> guard(mutex);
        destroyed = true;
        gone.notify_all();
    };
    ASSERT_TRUE(job->start(&Codes::callback, &codes));
    std::unique_lock<std::mutex> lock(mutex);
    gone.wait(lock, [&] { return destroyed; });
    EXPECT_EQ(codes.codes, (std::vector<uint32_t>{37, kZTCodeJobFinished}));
}

TEST(ZTThreadTest, AJobOnADatabaseHeldExclusiveHasNoFileAndDoesNotStart) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(7, false), 7u);
    CountingJob job(&file, true, 1);
    EXPECT_EQ(job.getThreadFile(), nullptr);
    EXPECT_FALSE(job.start(nullptr, nullptr));
    EXPECT_EQ(job.runs, 0);
}

TEST(ZTThreadTest, AWaitHookServesTheWaitForTheThread) {
    Database db;
    struct Hook {
        std::atomic<int> calls{0};
        static bool wait(void* context, int milliseconds) {
            auto* self = static_cast<Hook*>(context);
            ++self->calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / 10));
            return true;
        }
    } hook;
    CountingJob job(&db.file, true, 1);
    job.blocking = true;
    job.setWaitHook(&Hook::wait, &hook);
    ASSERT_TRUE(job.start(nullptr, nullptr));
    job.waitForEnd();  // the run waits for the stop through the hook as well
    EXPECT_FALSE(job.isActive());
    EXPECT_GE(hook.calls.load(), 1);
}

TEST(BatchStandInTest, TheNthReportAnswersMinusOneAndReportsComeOneAtATimeInOrder) {
    Database db;
    BatchStandIn batch(4);
    CountingJob job(&db.file, true, 10);
    batch.job = &job;
    ASSERT_TRUE(job.start(&BatchStandIn::callback, &batch));
    std::vector<uintptr_t> seen;
    BatchReport r{};
    while (batch.take(&r)) seen.push_back(r.code == kZTCodeJobFinished ? 0 : r.b);
    job.waitForEnd();
    // Four reports, the fourth answered -1: the job stops there and then says it finished.
    EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(job.done.load(), 4);
    EXPECT_TRUE(batch.stopped());
    EXPECT_EQ(batch.mostWaiting(), 1u) << "a report was posted before the previous was taken";
}

TEST(BatchStandInTest, AStopWhileTheWorkerWaitsOnAReportNobodyTakesReturns) {
    Database db;
    BatchStandIn batch(1000);
    CountingJob job(&db.file, true, 1000);
    batch.job = &job;
    ASSERT_TRUE(job.start(&BatchStandIn::callback, &batch));
    batch.awaitPosted(1);  // the worker now waits for the owner to take it, or soon will
    job.stop();            // the owner waits for the job: the worker's wait must end
    EXPECT_FALSE(job.isActive());
    EXPECT_LT(job.done.load(), 1000);
}
