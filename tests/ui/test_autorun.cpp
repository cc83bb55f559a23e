// Start-up shortcuts: the operations over a recording desktop, and the XDG
// desktop with its folders under a temporary folder.
#include "config/VESKAOptions.h"
#include "ui/AutoRun.h"
#include "ui/XdgShellFolders.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace {

class TRecordingShell : public IShellFolders {
public:
    std::map<uint8_t, std::string> Folders;
    std::vector<std::string> Calls;

    std::string FolderPath(uint8_t folder) override
    {
        const auto it = Folders.find(folder);
        return it == Folders.end() ? std::string() : it->second;
    }
    void WriteLink(const std::string& link, const std::string& target, const std::string& dir) override
    {
        Calls.push_back("write " + link + " -> " + target + " in " + dir);
    }
    void DeleteFile(const std::string& path) override { Calls.push_back("delete " + path); }
    void NotifyFolderChanged(const std::string& folder) override { Calls.push_back("notify " + folder); }
    std::string LinkExtension() const override { return ".LNK"; }
};

TEST(Shortcut, CreateWritesTheLinkThenTellsTheDesktop)
{
    TRecordingShell shell;
    shell.Folders[sfStartup] = "/home/u/Startup";
    CreateShortcut("/opt/veska/SERVER.EXE", sfStartup, shell);
    RemoveShortcut("/opt/veska/SERVER.EXE", sfStartup, shell);
    EXPECT_EQ(shell.Calls, (std::vector<std::string>{
                               "write /home/u/Startup/SERVER.LNK -> /opt/veska/SERVER.EXE in /opt/veska/",
                               "notify /home/u/Startup",
                               "delete /home/u/Startup/SERVER.LNK",
                               "notify /home/u/Startup",
                           }));
}

TEST(Shortcut, FolderWithoutPathWritesAndDeletesNothingButIsStillNotified)
{
    TRecordingShell shell;
    shell.Folders[sfDesktop] = "/home/u/Desktop";
    CreateShortcut("/opt/veska/veska", sfSendTo, shell);
    RemoveShortcut("/opt/veska/veska", 9, shell);
    EXPECT_EQ(shell.Calls, (std::vector<std::string>{"notify ", "notify "}));
}

struct TNameCase {
    const char* Name;
    std::string Program;
    std::string Link;
};

class LinkName : public ::testing::TestWithParam<TNameCase> {};

TEST_P(LinkName, ReplacesOrAppendsTheExtension)
{
    EXPECT_EQ(LinkFileName(GetParam().Program, ".desktop"), GetParam().Link);
}

const TNameCase kNames[] = {
    {"WithExtension", "/opt/veska/SERVER.EXE", "SERVER.desktop"},
    {"WithoutExtension", "/opt/veska/veska", "veska.desktop"},
    {"DotInFolderOnly", "/opt/v1.1/veska", "veska.desktop"},
    {"SeveralDots", "/opt/veska/veska.app.bin", "veska.app.desktop"},
};

INSTANTIATE_TEST_SUITE_P(Shortcut, LinkName, ::testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.Name); });

// Points the XDG variables and HOME at a temporary folder, and puts them back.
class XdgFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            FSaved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        Set("HOME", Temp.Path() + "home");
        Set("XDG_CONFIG_HOME", Temp.Path() + "config");
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        for (const auto& [name, value] : FSaved) {
            if (value) Set(name.c_str(), *value);
            else ::unsetenv(name.c_str());
        }
    }
    static void Set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

    TTempDir Temp{"veska-autorun"};
    TXdgShellFolders Shell;
    std::string Program = "/opt/veska/veska";
    std::string Entry() const { return Temp.Path() + "config/autostart/veska.desktop"; }

private:
    std::map<std::string, std::optional<std::string>> FSaved;
};

TEST_F(XdgFolders, FoldersFollowTheBaseAndUserDirectories)
{
    EXPECT_EQ(Shell.FolderPath(sfStartup), Temp.Path() + "config/autostart");
    EXPECT_EQ(Shell.FolderPath(sfStartMenu), Temp.Path() + "home/.local/share/applications");
    EXPECT_EQ(Shell.FolderPath(sfSendTo), "");
    EXPECT_EQ(Shell.FolderPath(4), "");
    EXPECT_EQ(Shell.FolderPath(sfDesktop), "") << "no user-dirs.dirs";

    fs::create_directories(Temp.Path() + "config");
    Temp.Write("config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                        "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                                        "XDG_DESKTOP_DIR=\"$HOME/Schreib tisch\"\n");
    EXPECT_EQ(Shell.FolderPath(sfDesktop), Temp.Path() + "home/Schreib tisch");

    Set("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(Shell.FolderPath(sfStartMenu), "/srv/data/applications");
    Set("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
    EXPECT_EQ(Shell.FolderPath(sfStartup), Temp.Path() + "home/.config/autostart");
}

TEST_F(XdgFolders, EntryStartsTheProgramInItsFolder)
{
    CreateShortcut(Program, sfStartup);
    EXPECT_EQ(ReadFile(Entry()), "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=veska\n"
                                 "Exec=/opt/veska/veska\n"
                                 "Path=/opt/veska/\n");
    EXPECT_FALSE(fs::exists(Entry() + ".new"));
}

TEST_F(XdgFolders, ReservedCharactersAreQuotedAndEscaped)
{
    EXPECT_EQ(DesktopEntryText("/opt/my apps/100% \"v\"$\\x", "/opt/my apps/"),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=100% \"v\"$\\\\x\n"
              "Exec=\"/opt/my apps/100%% \\\\\"v\\\\\"\\\\$\\\\\\\\x\"\n"
              "Path=/opt/my apps/\n");
}

// A program run with --dir passes its folder on to the link's command line.
struct TDirCase {
    const char* Name;
    std::string ProgramDir;
    std::string Exec;
};

class LinkProgramDir : public testing::TestWithParam<TDirCase> {};

TEST_P(LinkProgramDir, ExecLine)
{
    const TDirCase& c = GetParam();
    EXPECT_EQ(DesktopEntryText("/usr/lib/veska/veska", "/usr/lib/veska/", c.ProgramDir),
              "[Desktop Entry]\nType=Application\nName=veska\nExec=" + c.Exec + "\nPath=/usr/lib/veska/\n");
}

const TDirCase kDirCases[] = {
    {"NoneGiven", "", "/usr/lib/veska/veska"},
    {"TheProgramsOwnFolder", "/usr/lib/veska/", "/usr/lib/veska/veska"},
    {"OwnFolderWithoutSlash", "/usr/lib/veska", "/usr/lib/veska/veska"},
    {"UserFolder", "/home/ann/.config/veska/", "/usr/lib/veska/veska --dir /home/ann/.config/veska/"},
    {"BlankAndUmlautQuoted", "/home/j\xc3\xbcrgen/my veska/",
     "/usr/lib/veska/veska --dir \"/home/j\xc3\xbcrgen/my veska/\""},
    {"PercentDoubled", "/srv/100%/", "/usr/lib/veska/veska --dir /srv/100%%/"},
};

INSTANTIATE_TEST_SUITE_P(XdgFolders, LinkProgramDir, testing::ValuesIn(kDirCases),
                         [](const testing::TestParamInfo<TDirCase>& info) { return info.param.Name; });

TEST_F(XdgFolders, ShellGivenAProgramDirWritesIt)
{
    TXdgShellFolders shell(Temp.Path() + "veska-home/");
    CreateShortcut(Program, sfStartup, shell);
    EXPECT_NE(ReadFile(Entry()).find("\nExec=/opt/veska/veska --dir " + Temp.Path() + "veska-home/\n"),
              std::string::npos)
        << ReadFile(Entry());
}

TEST_F(XdgFolders, FolderThatCannotBeMadeFailsSilently)
{
    Temp.Write("blocker", "a file where the folder should be");
    Set("XDG_CONFIG_HOME", Temp.Path() + "blocker");
    EXPECT_NO_THROW(CreateShortcut(Program, sfStartup));
    EXPECT_NO_THROW(RemoveShortcut(Program, sfStartup));
    EXPECT_EQ(ReadFile(Temp.Path() + "blocker"), "a file where the folder should be");
}

TEST_F(XdgFolders, DesktopFileValidateAcceptsTheEntry)
{
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    for (const std::string& program : {Program, std::string("/opt/my apps/veska 2.bin")}) {
        CreateShortcut(program, sfStartup);
        const std::string entry = Temp.Path() + "config/autostart/" + LinkFileName(program, ".desktop");
        const std::string command = "desktop-file-validate '" + entry + "' > '" + Temp.Path() + "validate.txt' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << program;
        EXPECT_EQ(ReadFile(Temp.Path() + "validate.txt"), "") << program;
    }
}

// The rule the Options command applies after the dialog's OK.
struct TRuleCase {
    const char* Name;
    int32_t Before;
    int32_t Now;
    bool EntryBefore;     // an entry of our own stands there already
    const char* After;    // "none", "untouched" or "written"
};

class StartupRule : public XdgFolders, public ::testing::WithParamInterface<TRuleCase> {};

TEST_P(StartupRule, CreatesOrRemovesTheEntryOnlyWhenStartOptCrossesOne)
{
    const TRuleCase& c = GetParam();
    const std::string mark = "[Desktop Entry]\nType=Application\nName=mark\nExec=true\n";
    if (c.EntryBefore) {
        fs::create_directories(Temp.Path() + "config/autostart");
        Temp.Write("config/autostart/veska.desktop", mark);
    }
    TVESKAOptions options;
    options.SetValue("StartOpt", TValue(c.Before));
    options.RememberValues();
    options.SetValue("StartOpt", TValue(c.Now));

    UpdateStartupShortcut(options, Program, Shell);

    const std::string after = c.After;
    if (after == "none") EXPECT_FALSE(fs::exists(Entry()));
    else if (after == "untouched") EXPECT_EQ(ReadFile(Entry()), mark);
    else EXPECT_EQ(ReadFile(Entry()), DesktopEntryText(Program, "/opt/veska/"));
}

const TRuleCase kRules[] = {
    {"ManualToComputerStartCreates", 2, 1, false, "written"},
    {"SoftwareStartToComputerStartOverwrites", 0, 1, true, "written"},
    {"ComputerStartKeptLeavesIt", 1, 1, true, "untouched"},
    {"ComputerStartKeptDoesNotMakeIt", 1, 1, false, "none"},
    {"ComputerStartToSoftwareStartRemoves", 1, 0, true, "none"},
    {"ComputerStartToManualRemoves", 1, 2, true, "none"},
    {"SoftwareStartToManualTouchesNothing", 0, 2, true, "untouched"},
    {"ManualToSoftwareStartMakesNothing", 2, 0, false, "none"},
};

INSTANTIATE_TEST_SUITE_P(Shortcut, StartupRule, ::testing::ValuesIn(kRules),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(StartupRuleWithoutRemembering, NoPreviousValueCountsAsNotOne)
{
    TRecordingShell shell;
    shell.Folders[sfStartup] = "/s";
    TVESKAOptions options;
    options.SetValue("StartOpt", TValue(1));
    UpdateStartupShortcut(options, "/p/veska", shell);
    EXPECT_EQ(shell.Calls, (std::vector<std::string>{"write /s/veska.LNK -> /p/veska in /p/", "notify /s"}));
}

}  // namespace
