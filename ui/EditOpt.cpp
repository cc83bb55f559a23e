#include "ui/EditOpt.h"

#include "config/AsciiText.h"
#include "config/ControlExchange.h"
#include "ui/DisplayText.h"
#include "ui/HostAddresses.h"
#include "ui/NumberEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

template <typename Widget>
Widget* Make(QWidget* parent, const char* name)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top)
{
    auto* label = Make<QLabel>(parent, name);
    label->setText(QString::fromLatin1(caption));
    label->adjustSize();
    label->move(left, top);
    return label;
}

// A push button that takes no focus and is no default button.
QPushButton* MakeSmallButton(QWidget* parent, const char* name, const char* caption, QRect bounds)
{
    auto* button = Make<QPushButton>(parent, name);
    button->setText(QString::fromLatin1(caption));
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    button->setGeometry(bounds);
    return button;
}

// Width of the group boxes, which fill their page.
constexpr int kGroupWidth = 359;

template <typename Button>
Button* MakeChoice(QWidget* parent, const char* name, const char* caption, QRect bounds)
{
    auto* button = Make<Button>(parent, name);
    button->setText(QString::fromLatin1(caption));
    // The toolkit's check mark and spacing are wider than the layout allows
    // for: a caption that would be cut widens its control, within its group.
    if (qobject_cast<QGroupBox*>(parent) != nullptr) {
        const int room = kGroupWidth - bounds.left() - 4;
        bounds.setWidth(std::max(bounds.width(), std::min(button->sizeHint().width(), room)));
    }
    button->setGeometry(bounds);
    return button;
}

TNumberEdit* MakeNumberField(QWidget* parent, const char* name, QRect bounds)
{
    auto* field = Make<TNumberEdit>(parent, name);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->SetDisplayFormat("#####");
    field->SetMinValue("0");
    field->SetMaxValue("99999");
    field->SetTextValue("0");
    field->SetMaxLength(5);
    field->setGeometry(bounds);
    return field;
}

QGroupBox* MakeGroup(QWidget* page, QVBoxLayout* layout, const char* name, const char* caption, int height)
{
    auto* group = Make<QGroupBox>(page, name);
    group->setTitle(QString::fromLatin1(caption));
    group->setFixedHeight(height);
    layout->addWidget(group);
    return group;
}

// Group boxes aligned to the top of their page, 4 pixels apart.
QVBoxLayout* TopAligned(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    return layout;
}

bool HasSelection(const QListWidget* list) { return !list->selectedItems().isEmpty(); }

bool ListHolds(const QListWidget* list, const QString& text)
{
    const std::string wanted = ToBytes(text);
    for (int i = 0; i < list->count(); ++i)
        if (SameAddress(ToBytes(list->item(i)->text()), wanted)) return true;
    return false;
}

// Moves the selected item of `from` to the end of `to`; afterwards neither
// list has a selection.
void MoveSelected(QListWidget* from, QListWidget* to)
{
    const QList<QListWidgetItem*> selected = from->selectedItems();
    if (selected.isEmpty()) return;
    const QSignalBlocker blockFrom(from);
    const QSignalBlocker blockTo(to);
    // The item itself moves, with the bytes it was filled from.
    to->addItem(from->takeItem(from->row(selected.first())));
    from->clearSelection();
    to->clearSelection();
}

// A label that names the control it stands before, for the access key and
// for assistive technology.
void LabelFor(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    control->setAccessibleName(label->text().remove(QLatin1Char('&')).remove(QLatin1Char(':')));
}

}  // namespace

TEditOptions::TEditOptions(QWidget* parent) : QDialog(parent), FComponents(this)
{
    setObjectName(QStringLiteral("EditOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // The layout is measured for a narrow 8-point sans font; where that font
    // is missing, narrow look-alikes keep the captions within their bounds.
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans Narrow"),
                      QStringLiteral("DejaVu Sans Condensed")});
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setFixedSize(373, 302);

    Panel1 = Make<QWidget>(this, "Panel1");
    Panel1->setGeometry(0, 0, 373, 302 - 45);
    PageControl1 = Make<QTabWidget>(Panel1, "PageControl1");
    PageControl1->setGeometry(3, 3, 373 - 6, 302 - 45 - 6);
    BuildServicePage();
    BuildBindingsPage();
    BuildLoggingPage();
    BuildSecurityPage();
    for (const auto& [label, control] : {std::pair<QLabel*, QWidget*>{Label1, StartOpt}, {Label2, DefaultPort},
                                         {Label3, ExtFile}, {Label6, MaxResults}, {Label4, IntAvailable},
                                         {Label5, IntSelected}})
        LabelFor(label, control);

    Panel2 = Make<QWidget>(this, "Panel2");
    Panel2->setGeometry(0, 302 - 45, 373, 45);
    Button3 = MakeChoice<QPushButton>(Panel2, "Button3", "&OK", QRect(207, 9, 75, 25));
    Button4 = MakeChoice<QPushButton>(Panel2, "Button4", "&Cancel", QRect(295, 9, 75, 25));
    for (QPushButton* button : {Button3, Button4}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    SetTabOrder();

    // The form's components in the order its layout description lists them,
    // which is the order of the settings exchange.
    for (QObject* c : std::initializer_list<QObject*>{
             Panel1,       PageControl1, TabSheet1,   GroupBox1,   Label1,      Label2,      StartOpt,
             StartMin,     DefaultPort,  GroupBox2,   Label3,      SpeedButton1, ExtFile,    GroupBox5,
             Label6,       MaxResults,   StandardSearch, TabSheet2,   GroupBox4,   Label4,      SelectBtn,   DeselectBtn,
             Label5,       BindAll,      BindSelected, IntAvailable, IntSelected, TabSheet3, GroupBox3,
             LogNone,      LogSelected,  LogService,  LogRequests, LogErrors,   LogSession,  TabSheet4,
             GroupBox6,    Label7,       Label8,      TlsCertificate, SpeedButton2, TlsKey,  SpeedButton3,
             GroupBox7,    Label9,       TlsPort,     TlsRequired, GroupBox8,   Label10,     AllowFrom,
             Panel2,       Button3,      Button4})
        FComponents.Own(c);

    for (QRadioButton* radio : {BindAll, BindSelected, LogNone, LogSelected})
        connect(radio, &QRadioButton::clicked, this, &TEditOptions::BindAllClick);
    for (QListWidget* list : {IntAvailable, IntSelected})
        connect(list, &QListWidget::itemSelectionChanged, this, &TEditOptions::BindAllClick);
    connect(SpeedButton1, &QPushButton::clicked, this, &TEditOptions::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TEditOptions::SpeedButton2Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TEditOptions::SpeedButton3Click);
    connect(TlsCertificate, &QLineEdit::textChanged, this, &TEditOptions::UpdateControlStates);
    connect(SelectBtn, &QPushButton::clicked, this, &TEditOptions::SelectBtnClick);
    connect(DeselectBtn, &QPushButton::clicked, this, &TEditOptions::DeselectBtnClick);
    connect(Button3, &QPushButton::clicked, this, &TEditOptions::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TEditOptions::reject);

    HostAddresses = [] { return HostBindingAddresses(); };
    ChooseFile = [this](const std::string& previous) -> std::optional<std::string> {
        QFileDialog dialog(this);
        ConfigureOpenDlg(dialog);
        if (!previous.empty()) dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(previous)));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    };
    ChoosePemFile = [this](TPemFile which, const std::string& current) -> std::optional<std::string> {
        QFileDialog dialog(this);
        ConfigurePemDlg(dialog, which);
        if (!current.empty()) dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(current)));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    };
    ShowError = [this](const std::string& message) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), FromBytes(message));
    };
}

TEditOptions::~TEditOptions() = default;

void TEditOptions::BuildServicePage()
{
    TabSheet1 = Make<QWidget>(PageControl1, "TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("Service"));
    QVBoxLayout* layout = TopAligned(TabSheet1);

    GroupBox1 = MakeGroup(TabSheet1, layout, "GroupBox1", "Start Options", 83);
    Label1 = MakeLabel(GroupBox1, "Label1", "Service:", 8, 24);
    Label2 = MakeLabel(GroupBox1, "Label2", "Port:", 8, 55);
    StartOpt = Make<QComboBox>(GroupBox1, "StartOpt");
    StartOpt->addItems({QStringLiteral("Start automatically when software starts"),
                        QStringLiteral("Start automatically when computer starts"),
                        QStringLiteral("Manual start & stop")});
    StartOpt->setGeometry(72, 20, 279, 21);
    StartMin = MakeChoice<QCheckBox>(GroupBox1, "StartMin", "Start server minimized", QRect(216, 53, 129, 17));
    DefaultPort = MakeNumberField(GroupBox1, "DefaultPort", QRect(72, 52, 49, 21));

    GroupBox2 = MakeGroup(TabSheet1, layout, "GroupBox2", "External Database", 55);
    Label3 = MakeLabel(GroupBox2, "Label3", "File name:", 8, 24);
    SpeedButton1 = MakeSmallButton(GroupBox2, "SpeedButton1", "...", QRect(328, 20, 23, 22));
    ExtFile = Make<QLineEdit>(GroupBox2, "ExtFile");
    ExtFile->setGeometry(72, 20, 249, 21);

    // Two rows, spaced as the start options: the check box's caption is too
    // long to stand beside the field.
    GroupBox5 = MakeGroup(TabSheet1, layout, "GroupBox5", "Limits", 75);
    Label6 = MakeLabel(GroupBox5, "Label6", "Max results:", 8, 24);
    MaxResults = MakeNumberField(GroupBox5, "MaxResults", QRect(72, 20, 49, 21));
    StandardSearch = MakeChoice<QCheckBox>(GroupBox5, "StandardSearch",
                                           "Answer standard LDAP searches (Outlook, KDE, Apple)", QRect(8, 48, 265, 17));
    StandardSearch->setToolTip(QStringLiteral("Off: only substring lookups find entries"));
    layout->addStretch();
}

void TEditOptions::BuildBindingsPage()
{
    TabSheet2 = Make<QWidget>(PageControl1, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("Bindings"));
    QVBoxLayout* layout = TopAligned(TabSheet2);

    GroupBox4 = MakeGroup(TabSheet2, layout, "GroupBox4", "Options", 220);
    Label4 = MakeLabel(GroupBox4, "Label4", "Available:", 27, 72);
    SelectBtn = MakeSmallButton(GroupBox4, "SelectBtn", ">", QRect(165, 122, 23, 22));
    DeselectBtn = MakeSmallButton(GroupBox4, "DeselectBtn", "<", QRect(165, 154, 23, 22));
    Label5 = MakeLabel(GroupBox4, "Label5", "Selected:", 200, 72);
    BindAll = MakeChoice<QRadioButton>(GroupBox4, "BindAll", "Bind to all interfaces", QRect(8, 24, 113, 17));
    BindSelected = MakeChoice<QRadioButton>(GroupBox4, "BindSelected", "Bind to the following interfaces:",
                                            QRect(8, 48, 265, 17));
    IntAvailable = Make<QListWidget>(GroupBox4, "IntAvailable");
    IntAvailable->setGeometry(26, 88, 127, 113);
    IntSelected = Make<QListWidget>(GroupBox4, "IntSelected");
    IntSelected->setGeometry(200, 88, 131, 113);
    for (QListWidget* list : {IntAvailable, IntSelected}) list->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addStretch();
}

void TEditOptions::BuildLoggingPage()
{
    TabSheet3 = Make<QWidget>(PageControl1, "TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral("Logging"));
    QVBoxLayout* layout = TopAligned(TabSheet3);

    GroupBox3 = MakeGroup(TabSheet3, layout, "GroupBox3", "Options", 177);
    LogNone = MakeChoice<QRadioButton>(GroupBox3, "LogNone", "No logging", QRect(8, 24, 113, 17));
    LogSelected = MakeChoice<QRadioButton>(GroupBox3, "LogSelected", "Log the following events:", QRect(8, 48, 193, 17));
    LogService = MakeChoice<QCheckBox>(GroupBox3, "LogService", "Service start/stop", QRect(26, 68, 129, 17));
    LogRequests = MakeChoice<QCheckBox>(GroupBox3, "LogRequests", "Requests", QRect(26, 108, 129, 17));
    LogErrors = MakeChoice<QCheckBox>(GroupBox3, "LogErrors", "Errors", QRect(26, 128, 129, 17));
    LogSession = MakeChoice<QCheckBox>(GroupBox3, "LogSession", "Session begin/end", QRect(26, 88, 129, 17));
    layout->addStretch();
}

void TEditOptions::BuildSecurityPage()
{
    TabSheet4 = Make<QWidget>(PageControl1, "TabSheet4");
    PageControl1->addTab(TabSheet4, QStringLiteral("Security"));
    QVBoxLayout* layout = TopAligned(TabSheet4);

    GroupBox6 = MakeGroup(TabSheet4, layout, "GroupBox6", "Certificate", 83);
    Label7 = MakeLabel(GroupBox6, "Label7", "Ce&rtificate:", 8, 24);
    Label8 = MakeLabel(GroupBox6, "Label8", "Private &key:", 8, 55);
    TlsCertificate = Make<QLineEdit>(GroupBox6, "TlsCertificate");
    TlsCertificate->setGeometry(72, 20, 249, 21);
    SpeedButton2 = MakeSmallButton(GroupBox6, "SpeedButton2", "...", QRect(328, 20, 23, 22));
    TlsKey = Make<QLineEdit>(GroupBox6, "TlsKey");
    TlsKey->setGeometry(72, 52, 249, 21);
    SpeedButton3 = MakeSmallButton(GroupBox6, "SpeedButton3", "...", QRect(328, 52, 23, 22));
    LabelFor(Label7, TlsCertificate);
    LabelFor(Label8, TlsKey);
    SpeedButton2->setAccessibleName(QStringLiteral("Choose the certificate file"));
    SpeedButton3->setAccessibleName(QStringLiteral("Choose the private key file"));
    for (QLineEdit* field : {TlsCertificate, TlsKey})
        field->setToolTip(QStringLiteral("PEM file; a relative path starts at the program folder"));

    GroupBox7 = MakeGroup(TabSheet4, layout, "GroupBox7", "Encryption", 55);
    Label9 = MakeLabel(GroupBox7, "Label9", "LDAPS &port:", 8, 24);
    TlsPort = MakeNumberField(GroupBox7, "TlsPort", QRect(72, 20, 49, 21));
    TlsPort->setToolTip(QStringLiteral("0 turns LDAPS off"));
    TlsRequired = MakeChoice<QCheckBox>(GroupBox7, "TlsRequired", "Require &encryption", QRect(216, 22, 129, 17));
    TlsRequired->setToolTip(QStringLiteral("On the plain port, searches wait for StartTLS"));
    LabelFor(Label9, TlsPort);

    GroupBox8 = MakeGroup(TabSheet4, layout, "GroupBox8", "Allowed Networks", 55);
    Label10 = MakeLabel(GroupBox8, "Label10", "&Allow from:", 8, 24);
    AllowFrom = Make<QLineEdit>(GroupBox8, "AllowFrom");
    AllowFrom->setGeometry(72, 20, 279, 21);
    AllowFrom->setPlaceholderText(QStringLiteral("everyone"));
    AllowFrom->setToolTip(QStringLiteral("Addresses and networks, comma-separated, e.g. 10.0.0.0/8, fd00::/8"));
    LabelFor(Label10, AllowFrom);
    layout->addStretch();
}

void TEditOptions::SetTabOrder()
{
    const QList<QWidget*> order = {PageControl1,   StartOpt,    DefaultPort, StartMin,    ExtFile,    MaxResults,  StandardSearch,
                                   BindAll,        BindSelected, IntAvailable, IntSelected, LogNone,   LogSelected,
                                   LogService,     LogRequests, LogErrors,   LogSession,  TlsCertificate, TlsKey,
                                   TlsPort,        TlsRequired, AllowFrom,   Button3,     Button4};
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void TEditOptions::ConfigureOpenDlg(QFileDialog& dialog)
{
    dialog.setWindowTitle(QStringLiteral("LDIF Database"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The shown name keeps its comma list; the patterns come from the last
    // parentheses, which the dialog hides. Both letter cases, since file
    // names here are case-sensitive.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilter(
        QStringLiteral("LDAP Data Interchange Format (*.LDF,*.LDIF) (*.LDF *.LDIF *.ldf *.ldif)"));
    dialog.setDefaultSuffix(QStringLiteral("LDIF"));
    dialog.setSizeGripEnabled(true);
}

void TEditOptions::ConfigurePemDlg(QFileDialog& dialog, TPemFile which)
{
    dialog.setWindowTitle(which == TPemFile::Certificate ? QStringLiteral("Certificate") : QStringLiteral("Private Key"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("PEM files (*.pem *.crt *.key *.PEM *.CRT *.KEY)"),
                           QStringLiteral("All files (*)")});
    dialog.setSizeGripEnabled(true);
}

void TEditOptions::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
        FormShow();
    }
    QDialog::showEvent(event);
}

void TEditOptions::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter: event->accept(); return;
        default: break;
        }
    }
    QDialog::keyPressEvent(event);
}

void TEditOptions::FormShow()
{
    PageControl1->setCurrentWidget(TabSheet1);
    try {
        if (Options != nullptr) ApplyToControls(*Options, FComponents);
        const std::vector<std::string> addresses = HostAddresses();
        const QSignalBlocker blocker(IntAvailable);
        IntAvailable->clear();
        for (const std::string& address : addresses) IntAvailable->addItem(FromBytes(address));
        IntAvailable->insertItem(0, QStringLiteral("127.0.0.1"));
        ReconcileInterfaceLists();
        UpdateControlStates();
    } catch (const std::exception& e) {
        // The dialog opens all the same, with what was filled so far.
        ShowErrorSoon(e.what());
    }
}

void TEditOptions::ReconcileInterfaceLists()
{
    const QSignalBlocker blockAvailable(IntAvailable);
    const QSignalBlocker blockSelected(IntSelected);
    for (int i = IntSelected->count() - 1; i >= 0; --i)
        if (!ListHolds(IntAvailable, IntSelected->item(i)->text())) delete IntSelected->takeItem(i);
    for (int i = IntAvailable->count() - 1; i >= 0; --i)
        if (ListHolds(IntSelected, IntAvailable->item(i)->text())) delete IntAvailable->takeItem(i);
}

void TEditOptions::UpdateControlStates()
{
    const bool logging = !LogNone->isChecked();
    for (QCheckBox* box : {LogService, LogSession, LogRequests, LogErrors}) box->setEnabled(logging);
    const bool binding = !BindAll->isChecked();
    IntAvailable->setEnabled(binding);
    IntSelected->setEnabled(binding);
    SelectBtn->setEnabled(binding && HasSelection(IntAvailable));
    DeselectBtn->setEnabled(binding && HasSelection(IntSelected));
    // Without a certificate there is no LDAPS port to choose. "Require
    // encryption" stays usable: without a certificate it must be turned off.
    TlsPort->setEnabled(!TlsCertificate->text().isEmpty());
}

void TEditOptions::BindAllClick() { UpdateControlStates(); }

void TEditOptions::SelectBtnClick() { MoveSelected(IntAvailable, IntSelected); }

void TEditOptions::DeselectBtnClick() { MoveSelected(IntSelected, IntAvailable); }

void TEditOptions::SpeedButton1Click()
{
    try {
        const std::optional<std::string> chosen = ChooseFile(FLastChosenFile);
        if (!chosen) return;
        FLastChosenFile = *chosen;
        ExtFile->setText(FromBytes(*chosen));
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

void TEditOptions::SpeedButton2Click() { ChoosePem(TPemFile::Certificate, TlsCertificate); }

void TEditOptions::SpeedButton3Click() { ChoosePem(TPemFile::Key, TlsKey); }

void TEditOptions::ChoosePem(TPemFile which, QLineEdit* field)
{
    try {
        const std::optional<std::string> chosen = ChoosePemFile(which, ToBytes(field->text()));
        if (chosen) field->setText(FromBytes(*chosen));
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

void TEditOptions::Button3Click()
{
    try {
        if (Options != nullptr) {
            Options->RememberValues();
            ReadFromControls(*Options, FComponents);
        }
    } catch (const std::exception& e) {
        // The dialog still closes with OK; the caller saves what was read.
        ShowError(e.what());
    }
    accept();
}

void TEditOptions::ShowErrorSoon(const std::string& message)
{
    // Shown once the dialog is on screen, not from inside its showing.
    QMetaObject::invokeMethod(
        this, [this, message] { ShowError(message); }, Qt::QueuedConnection);
}
