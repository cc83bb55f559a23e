// The main window: tool bar, statistics, event log, status bar, the File
// menu and the tray icon with its popup menu, over the service (TMainForm).
#pragma once

#include "shell/MainForm.h"
#include "ui/ImageList.h"
#include "ui/NotificationArea.h"
#include "ui/NotifyIcon.h"
#include "ui/ServiceAdapter.h"
#include "ui/UserDialogs.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;

class TMainWindow : public QMainWindow {
    Q_OBJECT
public:
    // dialogs and area may be null: Qt's dialogs and the system tray are
    // used. Given ones are not owned and must outlive the window.
    explicit TMainWindow(TMainForm& service, IUserDialogs* dialogs = nullptr, INotificationArea* area = nullptr,
                         QWidget* parent = nullptr);
    ~TMainWindow() override;

    // Program start: caption, settings, automatic start, then the window is
    // shown (or sent to the tray when StartMin says so). False when the
    // automatic start failed: its message was shown and the program ends.
    bool StartUp();

    TNotifyIcon& NotifyIcon() { return *FNotifyIcon; }
    QMenu* MainPop() const { return FMainPop; }

public slots:
    void StartBtnClick();
    void StopBtnClick();
    // The options dialog: editing the settings, then
    // FService.ApplyNewSettings with the Startup shortcut rule.
    void Options1Click();
    void Import1Click();
    void Export1Click();
    void DisplayProgram1Click();
    void Exit1Click();

signals:
    // Exit or the title-bar close: the service is stopped, the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildActions();
    void BuildBody();
    void BuildTray();
    // The window follows the service's snapshot.
    void Refresh();
    void FormShow();
    void FormDestroy();
    void ShowError(const QString& text, const QString& detail);
    void PlaceOnScreen();

    TMainForm& FService;
    std::unique_ptr<IUserDialogs> FOwnDialogs;
    IUserDialogs* FDialogs;
    std::unique_ptr<INotificationArea> FOwnArea;
    INotificationArea* FArea;
    TServiceAdapter* FAdapter;

    QAction* FStartAction = nullptr;
    QAction* FStopAction = nullptr;
    QAction* FOptionsAction = nullptr;
    QLineEdit* FStatStart = nullptr;
    QLineEdit* FStatRequests = nullptr;
    QLineEdit* FStatDomains = nullptr;
    QLineEdit* FStatUsers = nullptr;
    QLineEdit* FStatBinding = nullptr;
    QLineEdit* FStatPort = nullptr;
    QListWidget* FLog = nullptr;
    QLabel* FStatusText = nullptr;
    QMenu* FMainPop = nullptr;
    TImageList* FSmallImages = nullptr;
    TNotifyIcon* FNotifyIcon = nullptr;

    // Window-log lines already shown (the snapshot's running count).
    uint64_t FLogShown = 0;
    bool FDestroyed = false;
};
