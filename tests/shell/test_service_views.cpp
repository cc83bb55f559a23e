// The service followed by several views: observers come and go, errors carry
// their cause, the snapshot is typed, accepted settings are applied in order.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace servicetest;

namespace {

const std::vector<std::string> kLoopback{"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1"};

std::vector<std::string> With(std::vector<std::string> lines, const std::vector<std::string>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

class ServiceViews : public ::testing::Test {
protected:
    void SetUp() override { PlaceForm(Form, Dir); }
    void TearDown() override
    {
        Form.FormDestroy();
        CloseLogFile();
    }
    TProgramDir Dir;
    TMainForm Form;
};

// Records the whole error, not only its text.
class TErrorRecorder : public IServiceObserver {
public:
    void ErrorRaised(const TServiceError& error) override { Errors.push_back(error); }
    std::vector<TServiceError> Errors;
};

TEST_F(ServiceViews, EveryObserverSeesEachLineUntilItIsRemoved)
{
    TRecordingPresenter first, second;
    Form.AddObserver(&first);
    Form.AddObserver(&second);
    Form.AddObserver(&second);  // once is enough
    Form.LogEvent(TEventKind::DirectoryLoading, "one");
    Form.RemoveObserver(&first);
    Form.LogEvent(TEventKind::Error, "two");
    EXPECT_EQ(first.Events(), std::vector<std::string>{"one"});
    EXPECT_EQ(second.Events(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(ServiceViews, FailedAutomaticStartCarriesItsCause)
{
    TBusyPort busy;
    Dir.WriteIni({"StartOpt=0", "DefaultPort=" + std::to_string(busy.Port()), "BindSelected=Yes",
                  "IntSelected=127.0.0.1"});
    TErrorRecorder errors;
    Form.AddObserver(&errors);
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::StartFailed);
    ASSERT_EQ(errors.Errors.size(), 2u);
    EXPECT_EQ(errors.Errors[0].Text, "Cannot open API");
    EXPECT_EQ(errors.Errors[1].Text, "Cannot start on specified port!");
    EXPECT_FALSE(errors.Errors[1].Detail.empty()) << "the listener's own error text";
    Form.RemoveObserver(&errors);
}

TEST_F(ServiceViews, SettingsErrorNamesTheFile)
{
    Dir.WriteIni({"MaxResults=many"});
    TErrorRecorder errors;
    Form.AddObserver(&errors);
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::SettingsError);
    ASSERT_EQ(errors.Errors.size(), 1u);
    EXPECT_EQ(errors.Errors[0].Detail, "key MaxResults in " + Dir.File("VESKA.INI"));
    Form.RemoveObserver(&errors);
}

TEST_F(ServiceViews, SnapshotHoldsNumbersAndTheRunningState)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    TServiceSnapshot before = Form.Snapshot();
    EXPECT_FALSE(before.Running);
    EXPECT_FALSE(before.Statistics.Refreshed);
    EXPECT_FALSE(before.Statistics.StartedAt.has_value());

    Form.StartService();
    TMainFormProbe::RequestCount(Form) = 12;
    TMainFormProbe::UpdateStatistics(Form);
    const TServiceSnapshot running = Form.Snapshot();
    EXPECT_TRUE(running.Running);
    EXPECT_TRUE(running.Statistics.Refreshed);
    EXPECT_EQ(running.Statistics.Requests, 12);
    EXPECT_EQ(running.Statistics.Binding, "127.0.0.1");
    EXPECT_EQ(running.Statistics.Port, 0);
    EXPECT_TRUE(running.Statistics.StartedAt.has_value());
    EXPECT_EQ(running.Statistics.Status, "Started");
    ASSERT_FALSE(running.Log.Lines.empty());
    EXPECT_EQ(running.Log.Added, running.Log.Lines.size());

    Form.StopService();
    EXPECT_FALSE(Form.Snapshot().Running);
    EXPECT_EQ(Form.Snapshot().Statistics.Requests, 12) << "a stop clears nothing";
}

TEST_F(ServiceViews, LinesAddedKeepsCountingPastTheHundredShown)
{
    for (int i = 0; i < 130; ++i) Form.LogEvent(TEventKind::Request, "r" + std::to_string(i));
    const TWindowLogSnapshot log = Form.Snapshot().Log;
    EXPECT_EQ(log.Lines.size(), 100u);
    EXPECT_EQ(log.Added, 130u);
}

TEST_F(ServiceViews, AcceptedSettingsAreSavedThenFollowedUpThenRestarted)
{
    Dir.WriteIni(With(kLoopback, {"StartOpt=0"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    TRecordingPresenter recorder;
    Form.AddObserver(&recorder);
    Form.Settings().SetValue("MaxResults", TValue(7));
    bool followedUp = false;
    Form.ApplyNewSettings([&] {
        followedUp = true;
        EXPECT_NE(ReadFile(Dir.File("VESKA.INI")).find("MaxResults=7"), std::string::npos) << "saved before";
        EXPECT_TRUE(recorder.Events().empty()) << "restarted after";
    });
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(recorder.Events(), (std::vector<std::string>{"Service stopped", "Service started"}));
    Form.RemoveObserver(&recorder);
}

TEST_F(ServiceViews, AFailingFollowUpSkipsTheRestart)
{
    Dir.WriteIni(With(kLoopback, {"StartOpt=0"}));
    ASSERT_EQ(Form.FormCreate(), TInitOutcome::Started);
    TRecordingPresenter recorder;
    Form.AddObserver(&recorder);
    EXPECT_THROW(Form.ApplyNewSettings([] { throw std::runtime_error("no shortcut"); }), std::runtime_error);
    EXPECT_TRUE(recorder.Events().empty());
    EXPECT_TRUE(Form.Running());
    Form.RemoveObserver(&recorder);
}

TEST_F(ServiceViews, AcceptedSettingsLeaveAStoppedServiceStopped)
{
    Dir.WriteIni(kLoopback);
    Form.FormCreate();
    Form.ApplyNewSettings();
    EXPECT_FALSE(Form.Running());
    EXPECT_TRUE(Form.Snapshot().Log.Lines.empty());
}

}  // namespace
