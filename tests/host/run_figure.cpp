// At the end of a run, one figure line: which architecture ran how many cases
// against which counterpart, and how its programs were run (natively or
// under emulation, as the test command found out).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "harness.h"

using host::kArch;

namespace {

const char *env_or(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

const char *wine_version()
{
    using Version = const char *(__cdecl *)();
    const auto get = reinterpret_cast<Version>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return get != nullptr ? get() : "not Wine";
}

// What a skipped case said, first line only; empty when it ran.
std::string skip_reason(const testing::TestResult &result)
{
    for (int i = 0; i < result.total_part_count(); ++i) {
        if (!result.GetTestPartResult(i).skipped())
            continue;
        std::string why = result.GetTestPartResult(i).message();
        if (why.rfind("Skipped\n", 0) == 0)
            why.erase(0, 8);
        return why.substr(0, why.find('\n'));
    }
    return std::string();
}

// Why the suite's cases skipped: " (WHY)", or " (N: WHY; M: WHY)" for several
// reasons; empty when none did.
std::string why_skipped(const testing::TestSuite &suite)
{
    std::map<std::string, int> reasons;
    for (int t = 0; t < suite.total_test_count(); ++t)
        if (suite.GetTestInfo(t)->result()->Skipped())
            ++reasons[skip_reason(*suite.GetTestInfo(t)->result())];
    std::string text;
    for (const auto &[why, n] : reasons)
        text += (text.empty() ? "" : "; ") +
                (reasons.size() > 1 ? std::to_string(n) + ": " : std::string()) + why;
    return text.empty() ? text : " (" + text + ")";
}

// The presence case table runs once per counterpart, as one suite each.
void presence_figure(const testing::TestSuite &suite)
{
    const std::string name = suite.name();
    const char *counterpart = name.find("OnWineSetupapi") != std::string::npos ? "Wine's own setupapi"
                              : name.find("OnStandIn") != std::string::npos ? "the stand-in setupapi"
                                                                            : nullptr;
    if (counterpart == nullptr || suite.test_to_run_count() == 0)
        return;
    std::printf("figure: presence cases %s against %s: %d passed, %d failed, %d skipped "
                "(only the stand-in can present them)\n",
                kArch, counterpart, suite.successful_test_count(), suite.failed_test_count(),
                suite.skipped_test_count());
}

// The direct command case table, once per counterpart of WinMM.
void direct_command_figure(const testing::TestSuite &suite)
{
    const std::string name = suite.name();
    const char *counterpart = name == "WineOwn/OnWineWinmm"    ? "Wine's own winmm"
                              : name == "DirectCommand/Wire" ? "the stand-in winmm"
                                                              : nullptr;
    if (counterpart == nullptr || suite.test_to_run_count() == 0)
        return;
    std::printf("figure: direct command cases %s against %s: %d passed, %d failed, %d skipped%s\n",
                kArch, counterpart, suite.successful_test_count(), suite.failed_test_count(),
                suite.skipped_test_count(), why_skipped(suite).c_str());
}

// The door case table, once per door to the virtual peripheral.
void door_figure(const testing::TestSuite &suite)
{
    if (std::string(suite.name()) != "Doors/DoorCase" || suite.test_to_run_count() == 0)
        return;
    std::printf("figure: door cases %s through %s: %d passed, %d failed, %d skipped%s\n", kArch,
                env_or("TARNWICK_COUNTERPART", "an unnamed door"), suite.successful_test_count(),
                suite.failed_test_count(), suite.skipped_test_count(), why_skipped(suite).c_str());
}

bool skipped_for(const testing::TestResult &result, const char *reason)
{
    return skip_reason(result).find(reason) != std::string::npos;
}

// The cases that skipped because Wine's winmm did not take the driver, in
// one line that the test command gathers per architecture: "skipped (ARCH):
// WHAT: WHY".
void driver_skip_line(const testing::UnitTest &run)
{
    int total = 0;
    std::string suites;
    for (int i = 0; i < run.total_test_suite_count(); ++i) {
        const testing::TestSuite &suite = *run.GetTestSuite(i);
        int n = 0;
        for (int t = 0; t < suite.total_test_count(); ++t)
            n += skipped_for(*suite.GetTestInfo(t)->result(), host::kDriverNotTaken) ? 1 : 0;
        if (n > 0)
            suites += (suites.empty() ? "" : ", ") + std::string(suite.name()) + " " +
                      std::to_string(n);
        total += n;
    }
    if (total > 0)
        std::printf("skipped (%s): host tests, %d cases (%s): %s\n", kArch, total, suites.c_str(),
                    host::kDriverNotTaken);
}

class RunFigure : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest &run) override
    {
        for (int i = 0; i < run.total_test_suite_count(); ++i) {
            presence_figure(*run.GetTestSuite(i));
            direct_command_figure(*run.GetTestSuite(i));
            door_figure(*run.GetTestSuite(i));
        }
        driver_skip_line(run);
        std::printf("figure: host tests %s against %s: %d cases, %d passed, %d failed, "
                    "%d skipped (Wine %s, %s)\n",
                    kArch, env_or("TARNWICK_COUNTERPART", "an unnamed counterpart"),
                    run.test_to_run_count(), run.successful_test_count(),
                    run.failed_test_count(), run.skipped_test_count(), wine_version(),
                    env_or("TARNWICK_RUN", "native"));
        std::fflush(stdout);
    }
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new RunFigure);
    return true;
}();

} // namespace
