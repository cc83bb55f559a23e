// The main window over a real service in a temporary program folder, with
// scripted dialogs and a recording notification area.
#include "UiFakes.h"

#include "directory/PublishedDirectory.h"
#include "shell/MainForm.h"
#include "ui/MainWindow.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>

#include <memory>
#include <thread>

namespace {

// A search for (cn=*a*), message ID 2.
const char kSearch[] = "\x30\x23\x02\x01\x02\x63\x1e\x04\x00\x0a\x01\x02\x0a\x01\x00\x02\x01\x00\x02\x01\x00"
                       "\x01\x01\x00\xa4\x09\x04\x02\x63\x6e\x30\x03\x81\x01\x61\x30\x00";

// Sends one search to 127.0.0.1:port and waits for the answer's last octets.
bool SearchOnce(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(s, kSearch, sizeof kSearch - 1, 0) == static_cast<ssize_t>(sizeof kSearch - 1);
    // The done message ends with its result code, matched DN and message: 0A 01 00 04 00 04 00.
    std::string answer;
    char buffer[4096];
    timeval timeout{10, 0};
    if (ok) ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    while (ok && answer.find(std::string("\x65\x07\x0a\x01\x00\x04\x00\x04\x00", 9)) == std::string::npos) {
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) ok = false;
        else answer.append(buffer, static_cast<std::size_t>(n));
    }
    if (s >= 0) ::close(s);
    return ok;
}

// A socket that holds a loopback port.
struct TBusyPort {
    int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
    int Port = 0;
    TBusyPort()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(Socket, 1);
        ::getsockname(Socket, reinterpret_cast<sockaddr*>(&address), &size);
        Port = ntohs(address.sin_port);
    }
    ~TBusyPort() { ::close(Socket); }
};

// While it lives, this thread cannot bind ports below 1024, even as root:
// CAP_NET_BIND_SERVICE leaves its effective set but stays permitted, so the
// destructor can take it back.
struct TWithoutBindPrivilege {
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Saved[2]{};
    bool Dropped = false;
    TWithoutBindPrivilege()
    {
        if (::syscall(SYS_capget, &Header, Saved) != 0) return;
        __user_cap_data_struct lowered[2] = {Saved[0], Saved[1]};
        lowered[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
        Dropped = ::syscall(SYS_capset, &Header, lowered) == 0;
    }
    ~TWithoutBindPrivilege()
    {
        if (Dropped) ::syscall(SYS_capset, &Header, Saved);
    }
};

// The first port anyone may bind (the system's setting; 1024 unless changed).
int UnprivilegedPortStart()
{
    int start = 1024;
    std::ifstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") >> start;
    return start;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMainForm> FService;
    TScriptedDialogs FDialogs;
    TRecordingNotificationArea FArea;
    std::unique_ptr<TMainWindow> FWindow;

    QString Path(const QString& name) const { return FDir->filePath(name); }
    void WriteFile(const QString& name, const QByteArray& text)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    void Make(const QByteArray& ini, const QString& exeName = QStringLiteral("veska"))
    {
        WriteFile(QStringLiteral("VESKA.INI"), "[OPTIONS]\n" + ini);
        FService = std::make_unique<TMainForm>();
        FService->SetExecutablePath(Path(exeName).toStdString());
        FWindow = std::make_unique<TMainWindow>(*FService, &FDialogs, &FArea);
    }
    template <typename T>
    T* Find(const char* name) const
    {
        return FWindow->findChild<T*>(QString::fromLatin1(name));
    }
    QString Panel(const char* name) const { return Find<QLineEdit>(name)->text(); }
    QListWidget* Log() const { return Find<QListWidget>("Log"); }
    int LinesWith(const QString& message) const
    {
        int n = 0;
        for (int i = 0; i < Log()->count(); ++i)
            if (Log()->item(i)->text().startsWith(message + QLatin1Char(' '))) ++n;
        return n;
    }
    QStringList BoxTexts() const
    {
        QStringList texts;
        for (const auto& box : FDialogs.Boxes) texts << box.Text;
        return texts;
    }
    void Trigger(QMenu* menu, const char* name)
    {
        QAction* action = menu->findChild<QAction*>(QString::fromLatin1(name));
        QVERIFY2(action, name);
        action->trigger();
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        FDialogs = TScriptedDialogs();
        FArea.TrayExists = true;
        FArea.Popups.clear();
    }
    void cleanup()
    {
        FWindow.reset();
        FService.reset();
        FDir.reset();
    }

    void captionFollowsTheExecutableName_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("caption");
        QTest::newRow("veska") << "veska" << "VESKA 1.1";
        QTest::newRow("copyNamedLdapTest") << "ldap-test" << "LDAP-TEST 1.1";
    }
    void captionFollowsTheExecutableName()
    {
        QFETCH(QString, exe);
        QFETCH(QString, caption);
        Make("", exe);
        QVERIFY(FWindow->StartUp());
        QCOMPARE(FWindow->windowTitle(), caption);
    }

    void toolButtonsShowCaptionImageAndHint_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::newRow("start") << "StartBtn" << "Start" << "Start Service";
        QTest::newRow("stop") << "StopBtn" << "Stop" << "Stop Service";
        QTest::newRow("options") << "ToolButton1" << "Options" << "Configure Server";
    }
    void toolButtonsShowCaptionImageAndHint()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        Make("");
        auto* button = FWindow->findChild<QToolButton*>(name);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->toolTip(), hint);
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(button->iconSize(), QSize(24, 24));
        QVERIFY(!button->icon().isNull());
        QVERIFY(button->isEnabled());
    }

    void menusHoldTheirItemsInOrder()
    {
        Make("");
        QMenu* file = Find<QMenu>("File1");
        QVERIFY(file);
        QCOMPARE(file->title(), QStringLiteral("&File"));
        QStringList items;
        for (QAction* a : file->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(items, (QStringList{"Options", "-", "Import...", "Export...", "-", "E&xit"}));
        items.clear();
        for (QAction* a : FWindow->MainPop()->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(items, (QStringList{"Display Program", "-", "Start Service", "Stop Service"}));
    }

    void everyPanelHasItsLabelAndTellsItsText_data()
    {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("label");
        QTest::newRow("start") << "StatStart" << "Started:";
        QTest::newRow("requests") << "StatRequests" << "Requests:";
        QTest::newRow("binding") << "StatBinding" << "Binding:";
        QTest::newRow("domains") << "StatDomains" << "# Domains:";
        QTest::newRow("users") << "StatUsers" << "# Users:";
        QTest::newRow("port") << "StatPort" << "Port:";
    }
    void everyPanelHasItsLabelAndTellsItsText()
    {
        QFETCH(QString, panel);
        QFETCH(QString, label);
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\nStartOpt=0\n");
        QVERIFY(FWindow->StartUp());
        QTRY_COMPARE(Find<QLineEdit>("StatPort")->text(), QStringLiteral("0"));
        auto* value = FWindow->findChild<QLineEdit*>(panel);
        QVERIFY(value);
        QVERIFY(value->isReadOnly());
        QLabel* caption = nullptr;
        for (QLabel* l : FWindow->findChildren<QLabel*>())
            if (l->buddy() == value) caption = l;
        QVERIFY(caption);
        QCOMPARE(caption->text(), label);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(value);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Value), value->text());
        QVERIFY(!value->text().isEmpty());
        QCOMPARE(Find<QGroupBox>("GroupBox1")->title(), QStringLiteral("Statistics"));
    }

    void nothingShownBeforeTheFirstStart()
    {
        Make("");
        QVERIFY(FWindow->StartUp());
        QVERIFY(FWindow->isVisible());
        for (const char* name : {"StatStart", "StatRequests", "StatDomains", "StatUsers", "StatBinding", "StatPort"})
            QCOMPARE(Panel(name), QString());
        QCOMPARE(Find<QLabel>("SB")->text(), QString());
        QCOMPARE(Log()->count(), 0);
    }

    void startTwiceLogsOnceAndStopStops()
    {
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\n");
        QVERIFY(FWindow->StartUp());
        FWindow->StartBtnClick();
        FWindow->StartBtnClick();
        QTRY_COMPARE(Find<QLabel>("SB")->text(), QStringLiteral("Started"));
        QTRY_COMPARE(LinesWith(QStringLiteral("Service started")), 1);
        QVERIFY(FService->Running());
        FWindow->StopBtnClick();
        FWindow->StopBtnClick();
        QTRY_COMPARE(Find<QLabel>("SB")->text(), QStringLiteral("Stopped"));
        QCOMPARE(LinesWith(QStringLiteral("Service stopped")), 1);
        QVERIFY(!FService->Running());
        QCOMPARE(BoxTexts(), QStringList{"Cannot open API"});
    }

    void popupItemsRunTheCommands()
    {
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\n");
        QVERIFY(FWindow->StartUp());
        Trigger(FWindow->MainPop(), "StartService1");
        QVERIFY(FService->Running());
        Trigger(FWindow->MainPop(), "StopService1");
        QVERIFY(!FService->Running());
        FWindow->NotifyIcon().MinimizeToTray();
        QVERIFY(!FWindow->isVisible());
        Trigger(FWindow->MainPop(), "DisplayProgram1");
        QVERIFY(FWindow->isVisible());
        QVERIFY(!FWindow->NotifyIcon().Active());
    }

    void rightClickOnTheTrayIconOpensThePopup()
    {
        Make("");
        QVERIFY(FWindow->StartUp());
        FWindow->NotifyIcon().MinimizeToTray();
        FArea.Send(TTrayMouse::RightDown);
        FArea.Send(TTrayMouse::RightUp);
        QCOMPARE(int(FArea.Popups.size()), 1);
        QCOMPARE(FArea.Popups[0].first, QStringLiteral("MainPop"));
        FArea.Send(TTrayMouse::LeftDown);
        FArea.Send(TTrayMouse::LeftUp);
        QVERIFY(FWindow->isVisible());
    }

    void aBoxWhileInTheTrayBelongsToTheWindow()
    {
        // A box of its own would be the program's last window and end it when closed.
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\n");
        QVERIFY(FWindow->StartUp());
        FWindow->NotifyIcon().MinimizeToTray();
        Trigger(FWindow->MainPop(), "StartService1");
        QTRY_COMPARE(BoxTexts(), QStringList{"Cannot open API"});
        QCOMPARE(FDialogs.Boxes[0].Parent, FWindow.get());
    }

    void requestsPanelCountsASearchOverLoopback()
    {
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\nStartOpt=0\n");
        QVERIFY(FWindow->StartUp());
        QTRY_COMPARE(Panel("StatRequests"), QStringLiteral("0"));
        QCOMPARE(Panel("StatBinding"), QStringLiteral("127.0.0.1"));
        const int port = FService->Listener().Binding(0).Port;
        QVERIFY(SearchOnce(port));
        QTRY_COMPARE(Panel("StatRequests"), QStringLiteral("1"));
        QTRY_COMPARE(LinesWith(QStringLiteral("Search Request 127.0.0.1")), 1);
    }

    void hundredFiftyEventsLeaveAHundredLinesNewestSelected()
    {
        Make("");
        QVERIFY(FWindow->StartUp());
        // From another thread, as connection threads log.
        std::thread logger([this] {
            for (int i = 0; i < 150; ++i) FService->LogEvent(TEventKind::Request, "event " + std::to_string(i));
        });
        logger.join();
        QTRY_COMPARE(Log()->count(), 100);
        QTRY_VERIFY(Log()->item(99)->text().startsWith(QStringLiteral("event 149 ")));
        QVERIFY(Log()->item(0)->text().startsWith(QStringLiteral("event 50 ")));
        QCOMPARE(Log()->currentRow(), 99);
        QVERIFY(Log()->currentItem()->isSelected());
    }

    void importThenExportThroughTheDialogs()
    {
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\nStartOpt=0\n");
        QVERIFY(FWindow->StartUp());
        QTRY_COMPARE(Panel("StatUsers"), QStringLiteral("0"));
        const int linesBefore = Log()->count();
        WriteFile(QStringLiteral("in.ldif"), "dn: cn=A,o=B\ncn: A\nmail: sales\n\ncn: C\nmail: c@x\n");
        FDialogs.Answers = {Path(QStringLiteral("in.ldif")), Path(QStringLiteral("out.LDF"))};
        FWindow->Import1Click();
        FWindow->Export1Click();
        QCoreApplication::processEvents();
        QCOMPARE(FDialogs.Asked, 2);
        QCOMPARE(BoxTexts(), QStringList{"Cannot open API"});
        QCOMPARE(Panel("StatUsers"), QStringLiteral("0"));  // the count of the last start
        QCOMPARE(Log()->count(), linesBefore);              // nothing logged
        QFile out(Path(QStringLiteral("out.LDF")));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("dn: cn=A,o=B\r\ncn: A\r\nmail: sales\r\n\r\ncn: C\r\nmail: c@x\r\n\r\n"));
    }

    void cancelledDialogsDoNothing()
    {
        Make("");
        QVERIFY(FWindow->StartUp());
        FWindow->Import1Click();
        FWindow->Export1Click();
        QCOMPARE(FDialogs.Asked, 2);
        QVERIFY(FDialogs.Boxes.empty());
        QVERIFY(!QFile::exists(Path(QStringLiteral("out.LDF"))));
    }

    void importErrorIsShownWithThePath()
    {
        Make("");
        QVERIFY(FWindow->StartUp());
        const QString missing = Path(QStringLiteral("missing.LDF"));
        FDialogs.Answers = {missing};
        FWindow->Import1Click();
        QCOMPARE(int(FDialogs.Boxes.size()), 1);
        QVERIFY(!FDialogs.Boxes[0].Text.isEmpty());
        QCOMPARE(FDialogs.Boxes[0].Detail, missing);
        QCOMPARE(FDialogs.Boxes[0].Title, QStringLiteral("VESKA 1.1"));
    }

    void failedAutomaticStartEndsTheProgramWithItsMessage()
    {
        TBusyPort busy;
        Make("StartOpt=0\nBindSelected=Yes\nIntSelected=127.0.0.1\nDefaultPort=" + QByteArray::number(busy.Port) + "\n");
        QVERIFY(!FWindow->StartUp());
        QVERIFY(!FWindow->isVisible());
        QCOMPARE(BoxTexts(), (QStringList{"Cannot open API", "Cannot start on specified port!"}));
        QVERIFY(!FDialogs.Boxes[1].Detail.isEmpty());  // the listener's own words
        QVERIFY(!FService->Running());
    }

    // The Start button's box carries, under its details, the cause veskad prints.
    void startButtonFailureShowsTheCauseUnderDetails_data()
    {
        QTest::addColumn<bool>("portBelow1024");
        QTest::addColumn<QString>("reasonAfterPort");
        QTest::newRow("portInUse") << false << QStringLiteral("Address already in use");
        QTest::newRow("portBelow1024WithoutPrivilege")
            << true << QStringLiteral("Permission denied (ports below 1024 need root or the CAP_NET_BIND_SERVICE capability)");
    }
    void startButtonFailureShowsTheCauseUnderDetails()
    {
        QFETCH(bool, portBelow1024);
        QFETCH(QString, reasonAfterPort);
        if (portBelow1024 && UnprivilegedPortStart() <= 1) QSKIP("this system lets anyone bind port 1");
        TBusyPort busy;
        const int port = portBelow1024 ? 1 : busy.Port;
        Make("StartOpt=2\nBindSelected=Yes\nIntSelected=127.0.0.1\nDefaultPort=" + QByteArray::number(port) + "\n");
        QVERIFY(FWindow->StartUp());
        {
            TWithoutBindPrivilege unprivileged;
            if (portBelow1024) QVERIFY(unprivileged.Dropped);
            FWindow->StartBtnClick();
        }
        QVERIFY(!FService->Running());
        QVERIFY(!FDialogs.Boxes.empty());
        QCOMPARE(FDialogs.Boxes.back().Detail, QStringLiteral("127.0.0.1:%1: ").arg(port) + reasonAfterPort);
    }

    void settingsErrorIsShownAndTheWindowStillOpens()
    {
        Make("MaxResults=lots\n");
        QVERIFY(FWindow->StartUp());
        QVERIFY(FWindow->isVisible());
        QTRY_COMPARE(int(FDialogs.Boxes.size()), 1);
        QVERIFY(FDialogs.Boxes[0].Text.contains(QStringLiteral("lots")));
        QVERIFY(FDialogs.Boxes[0].Detail.contains(Path(QStringLiteral("VESKA.INI"))));  // the file, under details
    }

    void startMinSendsItToTheTray_data()
    {
        QTest::addColumn<bool>("trayExists");
        QTest::newRow("tray") << true;
        QTest::newRow("noTray") << false;
    }
    void startMinSendsItToTheTray()
    {
        QFETCH(bool, trayExists);
        FArea.TrayExists = trayExists;
        Make("StartMin=Yes\n");
        QVERIFY(FWindow->StartUp());
        QCOMPARE(FWindow->NotifyIcon().Active(), trayExists);
        if (trayExists) {
            QVERIFY(!FWindow->isVisible());
        } else {
            QVERIFY(FWindow->isMinimized());
        }
    }

    void exitStopsTheServiceAndClosesTheWindow()
    {
        Make("DefaultPort=0\nBindSelected=Yes\nIntSelected=127.0.0.1\nStartOpt=0\n");
        QVERIFY(FWindow->StartUp());
        QVERIFY(FService->Running());
        QSignalSpy closed(FWindow.get(), &TMainWindow::closed);
        Find<QMenu>("File1")->findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!FWindow->isVisible());
        QVERIFY(!FService->Running());
        TUserListReadLock list;
        QVERIFY(!list);  // the directory was freed
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
