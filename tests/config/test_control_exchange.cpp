// Settings to controls and back by control name, over a fake component tree.
#include "config/ControlExchange.h"
#include "config/VESKAOptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

// A control of any kind: the kind is the set of properties it publishes.
class TFakeControl : public IComponent {
public:
    TFakeControl(std::string name, std::set<std::string_view> published, std::vector<std::string>* log)
        : FName(std::move(name)), FPublished(std::move(published)), FLog(log)
    {
    }

    TFakeControl& Own(std::string name, std::set<std::string_view> published)
    {
        FOwned.push_back(std::make_unique<TFakeControl>(std::move(name), std::move(published), FLog));
        return *FOwned.back();
    }

    std::string Name() const override { return FName; }
    int ComponentCount() const override { return static_cast<int>(FOwned.size()); }
    IComponent& Components(int index) override { return *FOwned.at(static_cast<std::size_t>(index)); }
    bool Publishes(std::string_view property) const override { return FPublished.count(property) > 0; }

    int32_t ItemIndex() const override { return Got("ItemIndex"), FItemIndex; }
    void SetItemIndex(int32_t v) override { Set("ItemIndex"), FItemIndex = v; }
    bool Checked() const override { return Got("Checked"), FChecked; }
    void SetChecked(bool v) override { Set("Checked"), FChecked = v; }
    std::string Text() const override { return Got("Text"), FText; }
    void SetText(const std::string& v) override { Set("Text"), FText = v; }
    std::string TextValue() const override { return Got("TextValue"), FTextValue; }
    void SetTextValue(const std::string& v) override { Set("TextValue"), FTextValue = v; }
    std::vector<std::string> Items() const override { return Got("Items"), FItems; }
    void SetItems(const std::vector<std::string>& v) override { Set("Items"), FItems = v; }

    int32_t FItemIndex = -1;
    bool FChecked = false;
    std::string FText;
    std::string FTextValue;
    std::vector<std::string> FItems;

private:
    std::string FName;
    std::set<std::string_view> FPublished;
    std::vector<std::string>* FLog;
    std::vector<std::unique_ptr<TFakeControl>> FOwned;

    void Got(const char* property) const { FLog->push_back("get " + FName + "." + property); }
    void Set(const char* property) const { FLog->push_back("set " + FName + "." + property); }
};

// What each control kind of the options dialog publishes among the five.
const std::set<std::string_view> kComboBox = {kPropItemIndex, kPropText, kPropItems};
const std::set<std::string_view> kCheckBox = {kPropChecked};
const std::set<std::string_view> kEdit = {kPropText};
const std::set<std::string_view> kNumberEdit = {kPropTextValue};
const std::set<std::string_view> kListBox = {kPropItems};
const std::set<std::string_view> kLabel = {};

class ControlExchange : public ::testing::Test {
protected:
    std::vector<std::string> Log;
    TFakeControl Form{"EditOptions", kLabel, &Log};
    TVESKAOptions Options;
};

TEST_F(ControlExchange, EachKindTakesPartThroughItsFirstPublishedProperty)
{
    auto& start = Form.Own("StartOpt", kComboBox);
    auto& minimised = Form.Own("StartMin", kCheckBox);
    auto& file = Form.Own("ExtFile", kEdit);
    auto& port = Form.Own("DefaultPort", kNumberEdit);
    auto& selected = Form.Own("IntSelected", kListBox);
    Options.SetValue("StartOpt", TValue(1));
    Options.SetValue("StartMin", TValue(true));
    Options.SetValue("ExtFile", TValue("/srv/people.ldif"));
    Options.SetValue("IntSelected", TValue("10.0.0.1,\"a b\",192.168.1.2"));

    ApplyToControls(Options, Form);

    EXPECT_EQ(start.FItemIndex, 1);
    EXPECT_EQ(start.FText, "") << "a combo box exchanges its index, never its text";
    EXPECT_TRUE(minimised.FChecked);
    EXPECT_EQ(file.FText, "/srv/people.ldif");
    EXPECT_EQ(port.FTextValue, "389");
    EXPECT_EQ(selected.FItems, (std::vector<std::string>{"10.0.0.1", "a b", "192.168.1.2"}));
    EXPECT_EQ(Log, (std::vector<std::string>{"set StartOpt.ItemIndex", "set StartMin.Checked", "set ExtFile.Text",
                                             "set DefaultPort.TextValue", "set IntSelected.Items"}));

    start.FItemIndex = -1;  // a choice list with nothing chosen
    minimised.FChecked = false;
    file.FText = "";
    port.FTextValue = "10389";
    selected.FItems = {"127.0.0.1", "x,y"};
    Log.clear();

    ReadFromControls(Options, Form);

    EXPECT_EQ(Options.GetValue("StartOpt"), TValue(-1));
    EXPECT_EQ(Options.GetValue("StartMin"), TValue(false));
    EXPECT_EQ(Options.GetValue("ExtFile"), TValue(""));
    EXPECT_EQ(Options.GetValue("DefaultPort"), TValue(10389));
    EXPECT_EQ(Options.GetValue("IntSelected"), TValue("127.0.0.1,\"x,y\""));
    EXPECT_EQ(Log, (std::vector<std::string>{"get StartOpt.ItemIndex", "get StartMin.Checked", "get ExtFile.Text",
                                             "get DefaultPort.TextValue", "get IntSelected.Items"}));
}

TEST_F(ControlExchange, NameDifferingOnlyInLetterCaseStillExchanges)
{
    auto& results = Form.Own("maxresults", kNumberEdit);
    ApplyToControls(Options, Form);
    EXPECT_EQ(results.FTextValue, "50");

    results.FTextValue = "7";
    ReadFromControls(Options, Form);
    EXPECT_EQ(Options.GetValue("MaxResults"), TValue(7));
}

TEST_F(ControlExchange, ComponentsPublishingNoneOfTheFiveAreSkipped)
{
    Form.Own("MaxResults", kLabel);  // a label that happens to bear a key's name
    Form.Own("Label6", kEdit);       // a control whose name is no key
    ApplyToControls(Options, Form);
    ReadFromControls(Options, Form);
    EXPECT_TRUE(Log.empty());
    EXPECT_EQ(Options.GetValue("MaxResults"), TValue(50));
}

TEST_F(ControlExchange, WalkVisitsEachComponentThenTheComponentsItOwns)
{
    auto& panel = Form.Own("Panel1", kLabel);  // matches no key, still walked into
    auto& group = panel.Own("GroupBox1", kLabel);
    group.Own("StartMin", kCheckBox);
    auto& list = panel.Own("IntSelected", kListBox);  // matches and owns more
    list.Own("LogNone", kCheckBox);
    Form.Own("LogErrors", kCheckBox);

    ApplyToControls(Options, Form);

    EXPECT_EQ(Log, (std::vector<std::string>{"set StartMin.Checked", "set IntSelected.Items", "set LogNone.Checked",
                                             "set LogErrors.Checked"}));
}

TEST_F(ControlExchange, BooleanKeyReadFromTextIsTrueOnlyForYes)
{
    auto& field = Form.Own("LogErrors", kEdit);
    for (const auto& [text, expected] : std::vector<std::pair<std::string, bool>>{
             {"Yes", true}, {"yes", false}, {"True", false}, {"1", false}, {"", false}}) {
        field.FText = text;
        ReadFromControls(Options, Form);
        EXPECT_EQ(Options.GetValue("LogErrors"), TValue(expected)) << text;
    }
}

TEST_F(ControlExchange, ConversionErrorStopsTheReadBackAtThatControl)
{
    // The options dialog's read-back order.
    const std::vector<std::pair<std::string, std::set<std::string_view>>> controls = {
        {"StartOpt", kComboBox},    {"StartMin", kCheckBox},   {"DefaultPort", kNumberEdit},
        {"ExtFile", kEdit},         {"MaxResults", kNumberEdit}, {"BindAll", kCheckBox},
        {"BindSelected", kCheckBox}, {"IntSelected", kListBox}, {"LogNone", kCheckBox},
        {"LogSelected", kCheckBox}, {"LogService", kCheckBox}, {"LogRequests", kCheckBox},
        {"LogErrors", kCheckBox},   {"LogSession", kCheckBox},
    };
    for (const auto& [name, kind] : controls) Form.Own(name, kind);
    ApplyToControls(Options, Form);
    Options.RememberValues();
    Options.SetValue("ExtFile", TValue("kept.ldif"));

    // Every control now holds something other than what is stored.
    for (int i = 0; i < Form.ComponentCount(); ++i) {
        auto& c = static_cast<TFakeControl&>(Form.Components(i));
        c.FItemIndex = 0;
        c.FChecked = !c.FChecked;
        c.FText = "other.ldif";
        c.FTextValue = "100";
        c.FItems = {"10.1.1.1"};
    }
    static_cast<TFakeControl&>(Form.Components(2)).FTextValue = "389.5";

    try {
        ReadFromControls(Options, Form);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'389.5' is not a valid integer value");
    }

    EXPECT_EQ(Options.GetValue("StartOpt"), TValue(0));
    EXPECT_EQ(Options.GetValue("StartMin"), TValue(true));
    EXPECT_EQ(Options.GetValue("DefaultPort"), TValue(389));
    EXPECT_EQ(Options.GetValue("ExtFile"), TValue("kept.ldif"));
    EXPECT_EQ(Options.GetValue("MaxResults"), TValue(50));
    EXPECT_EQ(Options.GetValue("BindAll"), TValue(true));
    EXPECT_EQ(Options.GetValue("IntSelected"), TValue(""));
    EXPECT_EQ(Options.GetValue("LogNone"), TValue(true));
    EXPECT_EQ(Options.GetValue("LogSession"), TValue(false));
    // The read-back never touches what RememberValues took.
    EXPECT_EQ(Options.GetPreviousValue("StartOpt"), TValue(2));
    EXPECT_EQ(Options.GetPreviousValue("StartMin"), TValue(false));
}

}  // namespace
