// The main window's Options command, as the user reaches it from the menu:
// the modal dialog answered, then the program folder's settings file and the
// Startup entry.
#include "shell/MainForm.h"
#include "ui/EditOpt.h"
#include "ui/MainWindow.h"

#include "ui/UiFakes.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class OptionsWiringTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMainForm> FService;
    TScriptedDialogs FDialogs;
    TRecordingNotificationArea FArea;
    std::unique_ptr<TMainWindow> FWindow;
    bool FAnswered = false;

    QString Entry() const { return FDir->filePath("config/autostart/veska.desktop"); }

    // Answers the modal dialog once it shows: StartOpt chosen, then OK or
    // Cancel. A message box on the way (a host whose name does not resolve)
    // is closed.
    void AnswerDialog(int startOpt, bool ok)
    {
        FAnswered = false;
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer, startOpt, ok] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->reject();
                auto* dialog = qobject_cast<TEditOptions*>(w);
                if (dialog == nullptr || !dialog->isVisible() || QApplication::activeModalWidget() != dialog) continue;
                dialog->StartOpt->setCurrentIndex(startOpt);
                QTest::mouseClick(ok ? dialog->Button3 : dialog->Button4, Qt::LeftButton);
                FAnswered = true;
                timer->deleteLater();
                return;
            }
        });
        timer->start(20);
    }

    void TriggerOptions()
    {
        QAction* action = FWindow->menuBar()->findChild<QAction*>(QStringLiteral("Options1"));
        QVERIFY(action != nullptr);
        action->trigger();  // returns once the modal dialog has closed
        QVERIFY(FAnswered);
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir->filePath("config")));
        FService = std::make_unique<TMainForm>();
        FService->SetExecutablePath(FDir->filePath("veska").toStdString());
        FWindow = std::make_unique<TMainWindow>(*FService, &FDialogs, &FArea);
    }
    void cleanup()
    {
        FWindow.reset();
        FService.reset();
    }

    void okSavesBesideTheProgramAndWritesTheStartupEntry()
    {
        AnswerDialog(1, true);
        TriggerOptions();
        QFile ini(FDir->filePath("VESKA.INI"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("StartOpt=1"));
        QFile entry(Entry());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("Exec=" + QFile::encodeName(FDir->filePath("veska")) + "\n"));
        QVERIFY(!FService->Running());
        QVERIFY(FDialogs.Boxes.empty());
    }

    void cancelWritesNothing()
    {
        AnswerDialog(1, false);
        TriggerOptions();
        QVERIFY(!QFile::exists(FDir->filePath("VESKA.INI")));
        QVERIFY(!QFile::exists(Entry()));
        QCOMPARE(FService->Settings().GetValue("StartOpt"), TValue(2));
    }

    void saveFailureIsShownInTheWindowsErrorBox()
    {
        QFile blocker(FDir->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FService->SetProgramDir(FDir->filePath("blocker").toStdString() + "/");
        AnswerDialog(1, true);
        TriggerOptions();
        QCOMPARE(FDialogs.Boxes.size(), std::size_t{1});
        QVERIFY(FDialogs.Boxes[0].Text.startsWith("Unable to write to "));
        QVERIFY(!QFile::exists(Entry()));
    }
};

QTEST_MAIN(OptionsWiringTest)
#include "tst_options_wiring.moc"
