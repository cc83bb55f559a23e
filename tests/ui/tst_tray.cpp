// The tray icon over a recording notification area: tips, images, the
// animation, mouse messages, the popup, minimise to tray and icon handles.
#include "UiFakes.h"

#include "ui/ImageList.h"
#include "ui/NotifyIcon.h"

#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

QIcon Solid(Qt::GlobalColor color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// Waits (bounded) until pred holds; no time is asserted.
template <typename Pred>
bool Eventually(Pred pred)
{
    for (int i = 0; i < 1000 && !pred(); ++i) QTest::qWait(5);
    return pred();
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QWidget> FOwner;
    std::unique_ptr<TRecordingNotificationArea> FArea;
    std::unique_ptr<TImageList> FImages;
    std::unique_ptr<TNotifyIcon> FIcon;

    // Records every event the icon raises, in order, into FEvents.
    void Watch()
    {
        auto* log = new QStringList;
        auto name = [](Qt::MouseButton b) {
            return b == Qt::LeftButton ? QStringLiteral("left") : b == Qt::RightButton ? QStringLiteral("right") : QStringLiteral("middle");
        };
        connect(FIcon.get(), &TNotifyIcon::mouseDown, this, [log, name](Qt::MouseButton b, const QPoint& at) {
            log->append(QStringLiteral("down %1 %2,%3").arg(name(b)).arg(at.x()).arg(at.y()));
        });
        connect(FIcon.get(), &TNotifyIcon::mouseUp, this, [log, name](Qt::MouseButton b, const QPoint&) {
            log->append(QStringLiteral("up %1").arg(name(b)));
        });
        connect(FIcon.get(), &TNotifyIcon::dblClick, this, [log] { log->append(QStringLiteral("double")); });
        connect(FIcon.get(), &TNotifyIcon::restored, this, [log] { log->append(QStringLiteral("restored")); });
        FEvents.reset(log);
    }
    std::unique_ptr<QStringList> FEvents;

private slots:
    void init()
    {
        FOwner = std::make_unique<QWidget>();
        FArea = std::make_unique<TRecordingNotificationArea>();
        FImages = std::make_unique<TImageList>();
        for (Qt::GlobalColor c : {Qt::red, Qt::green, Qt::blue, Qt::yellow}) FImages->Add(Solid(c));
        FIcon = std::make_unique<TNotifyIcon>(FOwner.get(), *FArea);
        FIcon->SetImageList(FImages.get());
    }
    void cleanup()
    {
        FIcon.reset();
        FEvents.reset();
        FImages.reset();
        FArea.reset();
        FOwner.reset();
    }

    void hintIsCutTo63Characters_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("shown");
        QTest::newRow("short") << 10 << 10;
        QTest::newRow("exactly63") << 63 << 63;
        QTest::newRow("seventy") << 70 << 63;
    }
    void hintIsCutTo63Characters()
    {
        QFETCH(int, length);
        QFETCH(int, shown);
        std::string hint;
        for (int i = 0; i < length; ++i) hint += static_cast<char>('a' + i % 26);
        FIcon->SetHint(hint);
        FIcon->SetIconIndex(2);
        FIcon->SetActive(true);
        QVERIFY(Eventually([&] { return !FArea->Shown().empty() && FArea->Shown().back().Image == 2; }));
        const auto last = FArea->Shown().back();
        QCOMPARE(last.Tip, hint.substr(0, static_cast<std::size_t>(shown)));
        QCOMPARE(FIcon->Hint(), hint);  // the property keeps the whole text
    }

    void addedWithoutImageThenShowsItsIndex()
    {
        FIcon->SetIconIndex(3);
        FIcon->SetActive(true);
        QVERIFY(Eventually([&] { return FArea->Shown().size() >= 2; }));
        QCOMPARE(FArea->Adds(), 1);
        QCOMPARE(FArea->Shown().front().Image, -1);
        QCOMPARE(FArea->Shown()[1].Image, 3);
    }

    void fourImagesAnimateFromZero()
    {
        FIcon->SetIconIndex(2);  // not where the animation starts
        FIcon->SetAnimateDelay(1);
        FIcon->SetAnimated(true);
        FIcon->SetActive(true);
        QVERIFY(Eventually([&] { return FArea->Shown().size() >= 7; }));
        FIcon->SetActive(false);
        std::vector<int> frames;
        for (const auto& shown : FArea->Shown())
            if (shown.Image >= 0) frames.push_back(shown.Image);
        QVERIFY(frames.size() >= 5);
        const std::vector<int> expected{0, 1, 2, 3, 0};
        QCOMPARE(std::vector<int>(frames.begin(), frames.begin() + 5), expected);
    }

    void destroyedImageListLeavesNoImage()
    {
        FIcon->SetActive(true);
        FImages.reset();
        QCOMPARE(FIcon->ImageList(), nullptr);
        QVERIFY(Eventually([&] { return FArea->Shown().size() >= 2 && FArea->Shown().back().Image == -1; }));
    }

    void mouseMessages_data()
    {
        QTest::addColumn<bool>("withPopup");
        QTest::addColumn<bool>("minFormToTray");
        QTest::addColumn<QList<int>>("messages");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("popups");
        const int ld = int(TTrayMouse::LeftDown), lu = int(TTrayMouse::LeftUp), l2 = int(TTrayMouse::LeftDouble);
        const int rd = int(TTrayMouse::RightDown), ru = int(TTrayMouse::RightUp), r2 = int(TTrayMouse::RightDouble);
        const int md = int(TTrayMouse::MiddleDown), mu = int(TTrayMouse::MiddleUp), mv = int(TTrayMouse::Move);
        QTest::newRow("rightClickWithoutPopup") << false << false << QList<int>{rd, ru}
                                                << QStringList{"down right 640,470", "up right"} << 0;
        QTest::newRow("rightClickWithPopup") << true << false << QList<int>{rd, ru}
                                             << QStringList{"down right 640,470", "up right"} << 1;
        QTest::newRow("leftClickWithoutMinimiseToTray") << true << false << QList<int>{ld, lu}
                                                        << QStringList{"down left 640,470", "up left"} << 0;
        QTest::newRow("leftClickRestores") << false << true << QList<int>{ld, lu}
                                           << QStringList{"down left 640,470", "up left", "restored"} << 0;
        QTest::newRow("leftDoubleClick") << false << false << QList<int>{ld, lu, l2, lu}
                                         << QStringList{"down left 640,470", "up left", "double", "up left"} << 0;
        QTest::newRow("middleClick") << true << false << QList<int>{md, mu}
                                     << QStringList{"down middle 640,470", "up middle"} << 0;
        QTest::newRow("movesAndOtherDoublesIgnored") << true << false << QList<int>{mv, r2} << QStringList{} << 0;
    }
    void mouseMessages()
    {
        QFETCH(bool, withPopup);
        QFETCH(bool, minFormToTray);
        QFETCH(QList<int>, messages);
        QFETCH(QStringList, events);
        QFETCH(int, popups);
        QMenu menu;
        menu.setObjectName(QStringLiteral("MainPop"));
        if (withPopup) FIcon->SetPopupMenu(&menu);
        FIcon->SetMinFormToTray(minFormToTray);
        Watch();
        for (int m : messages) FArea->Send(static_cast<TTrayMouse>(m));
        QCOMPARE(*FEvents, events);
        QCOMPARE(int(FArea->Popups.size()), popups);
        if (popups) QCOMPARE(FArea->Popups[0].second, QPoint(640, 470));
    }

    void destroyedPopupMenuIsForgotten()
    {
        auto menu = std::make_unique<QMenu>();
        FIcon->SetPopupMenu(menu.get());
        menu.reset();
        QCOMPARE(FIcon->PopupMenu(), nullptr);
        FArea->Send(TTrayMouse::RightDown);
        FArea->Send(TTrayMouse::RightUp);
        QVERIFY(FArea->Popups.empty());
    }

    void minimiseGoesToTheTrayWhenOneExists_data()
    {
        QTest::addColumn<bool>("trayExists");
        QTest::newRow("tray") << true;
        QTest::newRow("noTray") << false;
    }
    void minimiseGoesToTheTrayWhenOneExists()
    {
        QFETCH(bool, trayExists);
        FArea->TrayExists = trayExists;
        FIcon->SetMinFormToTray(true);
        FOwner->show();
        FOwner->setWindowState(Qt::WindowMinimized);
        if (trayExists) {
            QVERIFY(Eventually([&] { return FIcon->Active(); }));
            QVERIFY(!FOwner->isVisible());
            FIcon->RestoreFromTray();
            QVERIFY(FOwner->isVisible());
            QVERIFY(!(FOwner->windowState() & Qt::WindowMinimized));
        } else {
            QTest::qWait(20);  // let a wrongly queued minimise run
            QVERIFY(!FIcon->Active());
            QVERIFY(FOwner->isVisible());
        }
    }

    void hundredMinimiseRestoreCyclesLeaveNothing()
    {
        FIcon->SetIconIndex(1);
        FIcon->SetMinFormToTray(true);
        FOwner->show();
        for (int i = 0; i < 100; ++i) {
            FIcon->MinimizeToTray();
            QVERIFY(FIcon->Active());
            QVERIFY(!FOwner->isVisible());
            FIcon->RestoreFromTray();
            QVERIFY(!FIcon->Active());
        }
        QVERIFY(FOwner->isVisible());
        QCOMPARE(FArea->Adds(), 100);
        QCOMPARE(FArea->Deletes(), 100);
        QVERIFY(!FArea->Present());
        QCOMPARE(FArea->Released(), FArea->Created());
        QCOMPARE(FArea->BadReleases(), 0);
    }

    void startMinimizedKeepsTheOwnerHidden()
    {
        FIcon->SetStartMinimized(true);
        FIcon->Loaded();
        QVERIFY(FIcon->Active());
        QVERIFY(!FOwner->isVisible());
        FIcon->SetStartMinimized(false);
        QVERIFY(FIcon->Active());  // read once, at loading
    }
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
