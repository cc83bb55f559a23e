#include "ui/MainWindow.h"

#include "shell/StartFailure.h"
#include "ui/AppIcons.h"
#include "ui/OptionsCommand.h"
#include "ui/QtNotificationArea.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

constexpr int kWidth = 437;
constexpr int kHeight = 345;
constexpr int kPanelWidth = 132;

// Tray image: the small list holds start, stop, options and the program's own image.
constexpr int kTrayImage = 3;

std::string FileNameBytes(const QString& name) { return QFile::encodeName(name).toStdString(); }

} // namespace

TMainWindow::TMainWindow(TMainForm& service, IUserDialogs* dialogs, INotificationArea* area, QWidget* parent)
    : QMainWindow(parent), FService(service)
{
    if (!dialogs) {
        FOwnDialogs = std::make_unique<TQtUserDialogs>();
        dialogs = FOwnDialogs.get();
    }
    FDialogs = dialogs;
    if (!area) {
        FOwnArea = std::make_unique<TQtNotificationArea>();
        area = FOwnArea.get();
    }
    FArea = area;
    FAdapter = new TServiceAdapter(FService, this);

    setWindowTitle(QStringLiteral("VESKA 1.1"));
    setWindowIcon(AppIcon(TAppIcon::Application));
    BuildActions();
    BuildBody();
    BuildTray();

    connect(FAdapter, &TServiceAdapter::changed, this, &TMainWindow::Refresh);
    connect(FAdapter, &TServiceAdapter::captionChanged, this, &QWidget::setWindowTitle);
    connect(FAdapter, &TServiceAdapter::errorRaised, this, &TMainWindow::ShowError);
}

TMainWindow::~TMainWindow()
{
    // The tray's thread ends before the area it draws in.
    delete FNotifyIcon;
    FNotifyIcon = nullptr;
    FormDestroy();
    // No service call reaches the adapter once it is gone, even from a
    // connection that outlived a stop that timed out.
    delete FAdapter;
    FAdapter = nullptr;
}

void TMainWindow::BuildActions()
{
    FStartAction = new QAction(AppIcon(TAppIcon::Start), QStringLiteral("Start"), this);
    FStartAction->setObjectName(QStringLiteral("StartBtn"));
    FStartAction->setToolTip(QStringLiteral("Start Service"));
    connect(FStartAction, &QAction::triggered, this, &TMainWindow::StartBtnClick);

    FStopAction = new QAction(AppIcon(TAppIcon::Stop), QStringLiteral("Stop"), this);
    FStopAction->setObjectName(QStringLiteral("StopBtn"));
    FStopAction->setToolTip(QStringLiteral("Stop Service"));
    connect(FStopAction, &QAction::triggered, this, &TMainWindow::StopBtnClick);

    FOptionsAction = new QAction(AppIcon(TAppIcon::Options), QStringLiteral("Options"), this);
    FOptionsAction->setObjectName(QStringLiteral("ToolButton1"));
    FOptionsAction->setToolTip(QStringLiteral("Configure Server"));
    connect(FOptionsAction, &QAction::triggered, this, &TMainWindow::Options1Click);

    QToolBar* bar = addToolBar(QStringLiteral("Tools"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setVisible(false);
    bar->setIconSize(QSize(24, 24));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (QAction* action : {FStartAction, FStopAction, FOptionsAction}) {
        bar->addAction(action);
        QWidget* button = bar->widgetForAction(action);
        button->setObjectName(action->objectName());
        button->setMinimumSize(43, 44);
    }
    setContextMenuPolicy(Qt::NoContextMenu);

    QMenuBar* menus = menuBar();
    menus->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menus->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction* options = file->addAction(QStringLiteral("Options"), this, &TMainWindow::Options1Click);
    options->setObjectName(QStringLiteral("Options1"));
    file->addSeparator();
    QAction* import = file->addAction(QStringLiteral("Import..."), this, &TMainWindow::Import1Click);
    import->setObjectName(QStringLiteral("Import1"));
    QAction* exportAction = file->addAction(QStringLiteral("Export..."), this, &TMainWindow::Export1Click);
    exportAction->setObjectName(QStringLiteral("Export1"));
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"), this, &TMainWindow::Exit1Click);
    exit->setObjectName(QStringLiteral("Exit1"));
}

void TMainWindow::BuildBody()
{
    auto* statistics = new QGroupBox(QStringLiteral("Statistics"));
    statistics->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(statistics);
    grid->setVerticalSpacing(4);
    auto panel = [&](const char* label, const char* name, int row, int column) {
        auto* value = new QLineEdit;
        value->setObjectName(QString::fromLatin1(name));
        value->setReadOnly(true);
        // Wide enough for a start time in the system font, which is wider
        // than the panels' first font.
        const int needed = value->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00 AM")) + 12;
        value->setFixedWidth(std::max(kPanelWidth, needed));
        auto* caption = new QLabel(QString::fromLatin1(label));
        caption->setBuddy(value);
        grid->addWidget(caption, row, column * 2);
        grid->addWidget(value, row, column * 2 + 1);
        return value;
    };
    FStatStart = panel("Started:", "StatStart", 0, 0);
    FStatDomains = panel("# Domains:", "StatDomains", 0, 1);
    FStatRequests = panel("Requests:", "StatRequests", 1, 0);
    FStatUsers = panel("# Users:", "StatUsers", 1, 1);
    FStatBinding = panel("Binding:", "StatBinding", 2, 0);
    FStatPort = panel("Port:", "StatPort", 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    FLog = new QListWidget;
    FLog->setObjectName(QStringLiteral("Log"));
    FLog->setAccessibleName(QStringLiteral("Event log"));
    FLog->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(5);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(statistics);
    splitter->addWidget(FLog);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    FStatusText = new QLabel;
    FStatusText->setObjectName(QStringLiteral("SB"));
    statusBar()->addWidget(FStatusText, 1);
    statusBar()->setSizeGripEnabled(false);
}

void TMainWindow::BuildTray()
{
    FMainPop = new QMenu(this);
    FMainPop->setObjectName(QStringLiteral("MainPop"));
    QAction* display = FMainPop->addAction(QStringLiteral("Display Program"), this, &TMainWindow::DisplayProgram1Click);
    display->setObjectName(QStringLiteral("DisplayProgram1"));
    FMainPop->addSeparator();
    QAction* start = FMainPop->addAction(QStringLiteral("Start Service"), this, &TMainWindow::StartBtnClick);
    start->setObjectName(QStringLiteral("StartService1"));
    QAction* stop = FMainPop->addAction(QStringLiteral("Stop Service"), this, &TMainWindow::StopBtnClick);
    stop->setObjectName(QStringLiteral("StopService1"));

    FSmallImages = new TImageList(this);
    FSmallImages->Add(OwnAppIcon(TAppIcon::Start));
    FSmallImages->Add(OwnAppIcon(TAppIcon::Stop));
    FSmallImages->Add(OwnAppIcon(TAppIcon::Options));
    FSmallImages->Add(AppIcon(TAppIcon::Application));

    FNotifyIcon = new TNotifyIcon(this, *FArea);
    FNotifyIcon->setObjectName(QStringLiteral("NotifyIcon"));
    FNotifyIcon->SetImageList(FSmallImages);
    FNotifyIcon->SetIconIndex(kTrayImage);
    FNotifyIcon->SetMinFormToTray(true);
    FNotifyIcon->SetPopupMenu(FMainPop);
    FNotifyIcon->Loaded();
}

bool TMainWindow::StartUp()
{
    setWindowTitle(FromBytes(FService.CaptionText()));
    const TInitOutcome outcome = FService.FormCreate();
    if (outcome == TInitOutcome::StartFailed) {
        // The messages are shown before the program ends.
        FAdapter->Deliver();
        return false;
    }
    FNotifyIcon->SetStartMinimized(FService.Settings().StartMin());
    Refresh();
    PlaceOnScreen();
    FormShow();
    return true;
}

void TMainWindow::PlaceOnScreen()
{
    // Never narrower than the panels in the system font need.
    const QSize size = QSize(kWidth, kHeight).expandedTo(minimumSizeHint());
    resize(size);
    if (const QScreen* screen = this->screen()) {
        QRect frame(QPoint(0, 0), size);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TMainWindow::FormShow()
{
    if (FNotifyIcon->StartMinimized()) {
        // Where no tray exists this is an ordinary minimise.
        FNotifyIcon->MinimizeToTray();
        return;
    }
    show();
}

void TMainWindow::Refresh()
{
    const TServiceSnapshot snapshot = FService.Snapshot();
    const TStatisticsTexts texts = StatisticsTexts(snapshot.Statistics);
    const std::pair<QLineEdit*, const std::string*> panels[] = {
        {FStatStart, &texts.StatStart}, {FStatRequests, &texts.StatRequests}, {FStatDomains, &texts.StatDomains},
        {FStatUsers, &texts.StatUsers}, {FStatBinding, &texts.StatBinding},   {FStatPort, &texts.StatPort}};
    for (const auto& [panel, text] : panels) {
        const QString shown = FromBytes(*text);
        if (panel->text() == shown) continue;
        panel->setText(shown);
        panel->setCursorPosition(0);  // left-aligned: the start of a long text shows
    }
    FStatusText->setText(FromBytes(texts.Status));

    const std::vector<std::string>& lines = snapshot.Log.Lines;
    const uint64_t fresh = snapshot.Log.Added - FLogShown;
    if (fresh == 0) return;
    const std::size_t take = fresh < lines.size() ? static_cast<std::size_t>(fresh) : lines.size();
    for (std::size_t i = lines.size() - take; i < lines.size(); ++i) FLog->addItem(FromBytes(lines[i]));
    while (FLog->count() > static_cast<int>(TWindowLog::kMaxLines)) delete FLog->takeItem(0);
    FLogShown = snapshot.Log.Added;
    FLog->setCurrentRow(FLog->count() - 1);
    FLog->scrollToItem(FLog->currentItem());
}

void TMainWindow::ShowError(const QString& text, const QString& detail)
{
    // Owned by the window even while it hides in the tray: a box of its own
    // would count as the program's last window and end it when closed.
    FDialogs->ShowError(this, windowTitle(), text, detail);
}

void TMainWindow::StartBtnClick()
{
    try {
        FService.StartService();
    } catch (const std::exception& e) {
        // Under the details, the cause veskad prints: address, port, the
        // system's reason and, for a refused low port, the privilege it needs.
        const std::string cause = StartFailureCause(e);
        ShowError(FromBytes(e.what()), cause == e.what() ? QString() : FromBytes(cause));
    }
}

void TMainWindow::StopBtnClick()
{
    try {
        FService.StopService();
    } catch (const std::exception& e) {
        ShowError(FromBytes(e.what()), QString());
    }
}

void TMainWindow::Options1Click()
{
    TOptionsCommand command;
    command.Options = &FService.Settings();
    command.ProgramPath = FService.ExecutablePath();
    command.ProgramDir = FService.ProgramDir();
    command.ApplyNewSettings = [this](const std::function<void()>& afterSave) {
        FService.ApplyNewSettings(afterSave);
    };
    command.ShowError = [this](const std::string& message) { ShowError(FromBytes(message), QString()); };
    RunOptionsCommand(this, command);
}

void TMainWindow::Import1Click()
{
    const std::optional<QString> name = FDialogs->ImportFileName(this);
    if (!name) return;
    try {
        FService.Import(FileNameBytes(*name));
    } catch (const std::exception& e) {
        ShowError(FromBytes(e.what()), *name);
    }
}

void TMainWindow::Export1Click()
{
    const std::optional<QString> name = FDialogs->ExportFileName(this);
    if (!name) return;
    try {
        FService.Export(FileNameBytes(*name));
    } catch (const std::exception& e) {
        ShowError(FromBytes(e.what()), *name);
    }
}

void TMainWindow::DisplayProgram1Click() { FNotifyIcon->RestoreFromTray(); }

void TMainWindow::Exit1Click() { close(); }

void TMainWindow::closeEvent(QCloseEvent* event)
{
    FormDestroy();
    event->accept();
    emit closed();
}

void TMainWindow::FormDestroy()
{
    if (FDestroyed) return;
    FDestroyed = true;
    try {
        FService.FormDestroy();
    } catch (const std::exception& e) {
        // A stop that timed out: the listener's own teardown waits for the rest.
        ShowError(FromBytes(e.what()), QString());
    }
}
