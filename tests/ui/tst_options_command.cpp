// The Options command end to end over the service: the dialog accepted or
// cancelled, then the settings file and the Startup entry.
#include "shell/MainForm.h"
#include "ui/EditOpt.h"
#include "ui/OptionsCommand.h"
#include "ui/XdgShellFolders.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

namespace {

QString ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLatin1(file.readAll());
}

class TFailingShell : public TXdgShellFolders {
public:
    void WriteLink(const std::string&, const std::string&, const std::string&) override
    {
        throw std::runtime_error("cannot create the link object");
    }
};

}  // namespace

class TestOptionsCommand : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMainForm> FService;
    TOptionsCommand FCommand;
    std::vector<std::string> FErrors;

    QString Ini() const { return FDir->filePath("VESKA.INI"); }
    QString Entry() const { return FDir->filePath("config/autostart/veska.desktop"); }

    // Shows the dialog, picks a start option and presses OK or Cancel.
    void Answer(int startOpt, bool ok)
    {
        FCommand.Exec = [startOpt, ok](TEditOptions& dialog) {
            dialog.show();
            dialog.StartOpt->setCurrentIndex(startOpt);
            QTest::mouseClick(ok ? dialog.Button3 : dialog.Button4, Qt::LeftButton);
            return dialog.result();
        };
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir->filePath("config")));
        FService = std::make_unique<TMainForm>();
        FService->SetExecutablePath(FDir->filePath("bin/veska").toStdString());
        FService->SetProgramDir(FDir->path().toStdString() + "/");
        FErrors.clear();
        FCommand = TOptionsCommand{};
        FCommand.Options = &FService->Settings();
        FCommand.ProgramPath = FService->ExecutablePath();
        FCommand.ApplyNewSettings = [this](const std::function<void()>& after) { FService->ApplyNewSettings(after); };
        FCommand.ShowError = [this](const std::string& m) { FErrors.push_back(m); };
        FCommand.Prepare = [](TEditOptions& dialog) {
            dialog.HostAddresses = [] { return std::vector<std::string>{"10.0.0.5"}; };
        };
    }

    void cleanup() { FService.reset(); }

    void okSavesAndCreatesTheStartupEntry()
    {
        Answer(1, true);
        RunOptionsCommand(nullptr, FCommand);
        QVERIFY(FErrors.empty());
        QVERIFY(!FService->Running());  // a stopped service stays stopped
        QVERIFY(ReadAll(Ini()).contains("StartOpt=1"));
        const QString entry = ReadAll(Entry());
        QVERIFY(entry.contains("Exec=" + FDir->filePath("bin/veska") + "\n"));
        QVERIFY(entry.contains("Path=" + FDir->filePath("bin/") + "\n"));

        if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
            QSKIP("desktop-file-validate is not installed");
        const QByteArray command = "desktop-file-validate '" + QFile::encodeName(Entry()) + "'";
        QCOMPARE(std::system(command.constData()), 0);
    }

    void cancelTouchesNothing()
    {
        FService->Settings().SetValue("StartOpt", TValue(1));
        QDir().mkpath(FDir->filePath("config/autostart"));
        QFile mark(Entry());
        QVERIFY(mark.open(QIODevice::WriteOnly));
        mark.write("[Desktop Entry]\nType=Application\nName=mark\nExec=true\n");
        mark.close();

        Answer(2, false);
        RunOptionsCommand(nullptr, FCommand);
        QCOMPARE(FService->Settings().GetValue("StartOpt"), TValue(1));
        QVERIFY(!QFile::exists(Ini()));
        QVERIFY(ReadAll(Entry()).contains("Name=mark"));
        QVERIFY(FErrors.empty());

        FService->Settings().SetValue("StartOpt", TValue(2));
        Answer(1, false);
        RunOptionsCommand(nullptr, FCommand);
        QVERIFY(ReadAll(Entry()).contains("Name=mark"));
    }

    void settingsThatCannotBeSavedStopTheCommand()
    {
        QFile blocker(FDir->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FService->SetProgramDir(FDir->filePath("blocker").toStdString() + "/");
        Answer(1, true);
        RunOptionsCommand(nullptr, FCommand);
        QCOMPARE(FErrors.size(), std::size_t{1});
        QVERIFY(QString::fromStdString(FErrors[0]).startsWith("Unable to write to "));
        QVERIFY(!QFile::exists(Entry()));
    }

    void shortcutFailureIsShownAfterTheSettingsWereSaved()
    {
        TFailingShell shell;
        FCommand.Shell = &shell;
        Answer(1, true);
        RunOptionsCommand(nullptr, FCommand);
        QCOMPARE(FErrors, std::vector<std::string>{"cannot create the link object"});
        QVERIFY(ReadAll(Ini()).contains("StartOpt=1"));
        QCOMPARE(FService->Settings().GetValue("StartOpt"), TValue(1));
    }
};

QTEST_MAIN(TestOptionsCommand)
#include "tst_options_command.moc"
