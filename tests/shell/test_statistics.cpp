// Statistics panels and status text of the main form.
#include "shell/Bindings.h"
#include "shell/MainForm.h"
#include "support/MainFormProbe.h"
#include "support/MainFormProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class TCountingPresenter : public IServiceObserver {
public:
    void StateChanged(TStateChange change) override { ++(change == TStateChange::Statistics ? Statistics : Status); }
    std::atomic<int> Statistics{0};
    std::atomic<int> Status{0};
};

TEST(Statistics, EveryPanelAndTheStatusAreEmptyBeforeAnyStart)
{
    TMainForm form;
    EXPECT_EQ(Panels(form), TStatisticsTexts{});
    EXPECT_EQ(TMainFormProbe::RequestCount(form).load(), 0);
    EXPECT_EQ(TMainFormProbe::DomainCount(form).load(), 0);
    EXPECT_EQ(TMainFormProbe::UserCount(form).load(), 0);
}

struct TBindingCase {
    const char* Name;
    std::vector<std::string> Bindings;
    std::string Shown;
};

class BindingPanel : public testing::TestWithParam<TBindingCase> {};

TEST_P(BindingPanel, ShowsTheLastBinding)
{
    const TBindingCase& c = GetParam();
    TMainForm form;
    form.Listener().ClearBindings();
    for (const std::string& ip : c.Bindings) form.Listener().AddBinding(ip, 389);
    TMainFormProbe::UpdateStatistics(form);
    EXPECT_EQ(Panels(form).StatBinding, c.Shown);
    EXPECT_EQ(BindingText(form.Listener()), c.Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Statistics, BindingPanel,
    testing::Values(TBindingCase{"NoBinding", {}, "Unknown"}, TBindingCase{"AllInterfaces", {"0.0.0.0"}, "All"},
                    TBindingCase{"LastOfTwo", {"127.0.0.1", "192.168.1.5"}, "192.168.1.5"},
                    TBindingCase{"AllFirstThenOne", {"0.0.0.0", "10.0.0.1"}, "10.0.0.1"},
                    TBindingCase{"OneThenAll", {"10.0.0.1", "0.0.0.0"}, "All"},
                    TBindingCase{"OnlyTheExactTextIsAll", {"0.0.0.00"}, "0.0.0.00"}),
    [](const testing::TestParamInfo<TBindingCase>& info) { return info.param.Name; });

TEST(Statistics, SetBindingsFromTheSelectedList)
{
    TMainForm form;
    SetBindings(form.Listener(), "127.0.0.1,192.168.1.5");
    TMainFormProbe::UpdateStatistics(form);
    EXPECT_EQ(Panels(form).StatBinding, "192.168.1.5");
    SetBindings(form.Listener(), "");
    TMainFormProbe::UpdateStatistics(form);
    EXPECT_EQ(Panels(form).StatBinding, "Unknown");
}

TEST(Statistics, UpdateFillsFivePanelsAndLeavesStartAndStatus)
{
    TCountingPresenter presenter;
    TMainForm form(&presenter);
    TMainFormProbe::SetStartTime(form, TLocalTime{2024, 3, 15, 14, 5, 9, 0});
    TMainFormProbe::SetStatusText(form, "Started");
    TMainFormProbe::RequestCount(form) = 7;
    TMainFormProbe::DomainCount(form) = 2;
    TMainFormProbe::UserCount(form) = -1;
    form.Listener().SetDefaultPort(1389);
    TMainFormProbe::UpdateStatistics(form);

    TStatisticsTexts expected;
    expected.StatStart = "03/15/2024 02:05:09 PM";
    expected.StatRequests = "7";
    expected.StatDomains = "2";
    expected.StatUsers = "-1";
    expected.StatBinding = "Unknown";
    expected.StatPort = "1389";
    expected.Status = "Started";
    EXPECT_EQ(Panels(form), expected);
    EXPECT_EQ(presenter.Statistics.load(), 2);
    EXPECT_EQ(presenter.Status.load(), 1);

    // A stop changes the status only; the panels keep their values.
    TMainFormProbe::SetStatusText(form, "Stopped");
    expected.Status = "Stopped";
    EXPECT_EQ(Panels(form), expected);
}

TEST(Statistics, PanelsChangeOnlyWhenUpdated)
{
    TMainForm form;
    TMainFormProbe::UpdateStatistics(form);
    TMainFormProbe::RequestCount(form) = 5;
    EXPECT_EQ(Panels(form).StatRequests, "0");
    EXPECT_EQ(Panels(form).StatPort, "389");
    TMainFormProbe::UpdateStatistics(form);
    EXPECT_EQ(Panels(form).StatRequests, "5");
}

TEST(Statistics, EightThreadsOfTenThousandIncrementsCountExactly)
{
    TCountingPresenter presenter;
    TMainForm form(&presenter);
    std::atomic<bool> stop{false};
    std::atomic<int> wentBack{0};
    // A watcher on the "user-interface thread": the shown count never goes
    // back, although updates race with each other.
    std::thread watcher([&] {
        long long last = 0;
        while (!stop.load()) {
            const std::string shown = Panels(form).StatRequests;
            if (!shown.empty()) {
                const long long now = std::stoll(shown);
                if (now < last) ++wentBack;
                last = now;
            }
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&form] {
            for (int i = 0; i < 10000; ++i) {
                ++TMainFormProbe::RequestCount(form);
                if (i % 100 == 0) TMainFormProbe::UpdateStatistics(form);
            }
        });
    for (auto& th : threads) th.join();
    stop = true;
    watcher.join();
    TMainFormProbe::UpdateStatistics(form);
    EXPECT_EQ(TMainFormProbe::RequestCount(form).load(), 80000);
    EXPECT_EQ(Panels(form).StatRequests, "80000");
    EXPECT_EQ(wentBack.load(), 0);
    EXPECT_EQ(presenter.Statistics.load(), 8 * 100 + 1);
}

}  // namespace
