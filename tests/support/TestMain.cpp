// The main of every test binary. In CI (CI=true) every tool the tests need is installed, so a test
// that skips has found a missing tool or a broken set-up: there the skip is reported and counted as
// a failure that carries the skip's reason, and the binary ends with a non-zero status. Outside CI
// a skip stays a skip.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// JACK's client library keeps its metadata store (a Berkeley DB environment) open for the life of
// the process: at times LeakSanitizer reports the store's buffers when a test that talked to a JACK
// server ends. They are the library's, not ours to free.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdb-5.3.so\n";
}

namespace
{
bool runningInCi()
{
    const char* value = std::getenv ("CI");
    if (value == nullptr)
        return false;
    const std::string text (value);
    return text == "true" || text == "TRUE" || text == "True" || text == "1";
}

std::string fullName (const testing::TestInfo& test)
{
    return std::string (test.test_suite_name()) + "." + test.name();
}

/** Wraps GoogleTest's own printer: passes every event on, but reports a skip as a failure with the
    skip's reason. (The "[  SKIPPED ]" line must not appear: ctest would count the test as skipped.) */
class SkipFailsPrinter : public testing::TestEventListener
{
public:
    explicit SkipFailsPrinter (testing::TestEventListener* printer) : inner (printer) {}

    int skippedCount() const { return (int) skipped.size(); }

    void OnTestProgramStart (const testing::UnitTest& unit) override { inner->OnTestProgramStart (unit); }
    void OnTestIterationStart (const testing::UnitTest& unit, int iteration) override { inner->OnTestIterationStart (unit, iteration); }
    void OnEnvironmentsSetUpStart (const testing::UnitTest& unit) override { inner->OnEnvironmentsSetUpStart (unit); }
    void OnEnvironmentsSetUpEnd (const testing::UnitTest& unit) override { inner->OnEnvironmentsSetUpEnd (unit); }
    void OnTestSuiteStart (const testing::TestSuite& suite) override { inner->OnTestSuiteStart (suite); }
    void OnTestStart (const testing::TestInfo& test) override { inner->OnTestStart (test); }
    void OnTestSuiteEnd (const testing::TestSuite& suite) override { inner->OnTestSuiteEnd (suite); }
    void OnEnvironmentsTearDownStart (const testing::UnitTest& unit) override { inner->OnEnvironmentsTearDownStart (unit); }
    void OnEnvironmentsTearDownEnd (const testing::UnitTest& unit) override { inner->OnEnvironmentsTearDownEnd (unit); }
    void OnTestProgramEnd (const testing::UnitTest& unit) override { inner->OnTestProgramEnd (unit); }

    void OnTestPartResult (const testing::TestPartResult& result) override
    {
        if (! result.skipped())
            return inner->OnTestPartResult (result);
        const std::string reason = "skipped in CI, where every tool the tests need is installed: "
                                   + std::string (result.message());
        inner->OnTestPartResult (testing::TestPartResult (testing::TestPartResult::kFatalFailure,
                                                          result.file_name(), result.line_number(),
                                                          reason.c_str()));
    }

    void OnTestEnd (const testing::TestInfo& test) override
    {
        if (! test.result()->Skipped())
            return inner->OnTestEnd (test);
        skipped.push_back (fullName (test));
        std::printf ("[  FAILED  ] %s (%lld ms)\n", skipped.back().c_str(), (long long) test.result()->elapsed_time());
        std::fflush (stdout);
    }

    void OnTestIterationEnd (const testing::UnitTest& unit, int iteration) override
    {
        if (skipped.empty())
            return inner->OnTestIterationEnd (unit, iteration);
        std::printf ("[==========] %d tests from %d test suites ran. (%lld ms total)\n", unit.test_to_run_count(),
                     unit.test_suite_to_run_count(), (long long) unit.elapsed_time());
        std::printf ("[  PASSED  ] %d tests.\n", unit.successful_test_count());
        std::printf ("[  FAILED  ] %d tests skipped in CI, listed below:\n", skippedCount());
        for (const auto& name : skipped)
            std::printf ("[  FAILED  ] %s\n", name.c_str());
        if (unit.failed_test_count() > 0)
        {
            std::printf ("[  FAILED  ] %d tests failed, listed below:\n", unit.failed_test_count());
            for (int s = 0; s < unit.total_test_suite_count(); ++s)
                for (int t = 0; t < unit.GetTestSuite (s)->total_test_count(); ++t)
                    if (const auto* test = unit.GetTestSuite (s)->GetTestInfo (t); test->result()->Failed())
                        std::printf ("[  FAILED  ] %s\n", fullName (*test).c_str());
        }
        std::fflush (stdout);
    }

private:
    std::unique_ptr<testing::TestEventListener> inner;
    std::vector<std::string> skipped;
};
} // namespace

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    SkipFailsPrinter* skipsFail = nullptr;
    if (runningInCi())
    {
        auto& listeners = testing::UnitTest::GetInstance()->listeners();
        if (auto* printer = listeners.Release (listeners.default_result_printer()))
            listeners.Append (skipsFail = new SkipFailsPrinter (printer));
    }
    const int status = RUN_ALL_TESTS();
    if (skipsFail != nullptr && skipsFail->skippedCount() > 0)
        return 1;
    return status;
}
