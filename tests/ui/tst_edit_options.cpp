// The options dialog offscreen: layout, walk and tab order, filling on show,
// the enabling rules, the address lists, the file chooser, OK and Cancel.
#include "config/ControlExchange.h"
#include "config/VESKAOptions.h"
#include "ui/EditOpt.h"
#include "ui/NumberEdit.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QStringList ItemsOf(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

void ClickItem(QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
}

// Every key the dialog exchanges, in the order its read-back handles them.
std::vector<std::string> ExchangedKeys(IComponent& owner, const TOptions& options)
{
    std::vector<std::string> keys;
    for (int i = 0; i < owner.ComponentCount(); ++i) {
        IComponent& c = owner.Components(i);
        if (options.IndexOfOption(c.Name()) >= 0 && !FirstPublishedProperty(c).empty()) keys.push_back(c.Name());
        for (const std::string& k : ExchangedKeys(c, options)) keys.push_back(k);
    }
    return keys;
}

}  // namespace

class TestEditOptions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TVESKAOptions> FOptions;
    std::unique_ptr<TEditOptions> FDialog;
    std::vector<std::string> FErrors;
    std::vector<std::string> FHost;

    TEditOptions& Show()
    {
        FDialog->show();
        return *FDialog;
    }

private slots:
    void init()
    {
        FOptions = std::make_unique<TVESKAOptions>();
        FDialog = std::make_unique<TEditOptions>();
        FErrors.clear();
        FHost = {"10.0.0.5", "192.168.7.9"};
        FDialog->Options = FOptions.get();
        FDialog->HostAddresses = [this] { return FHost; };
        FDialog->ShowError = [this](const std::string& m) { FErrors.push_back(m); };
        FDialog->ChooseFile = [](const std::string&) -> std::optional<std::string> {
            throw std::logic_error("no chooser expected");
        };
    }
    void cleanup()
    {
        FDialog.reset();
        FOptions.reset();
    }

    void formHasItsCaptionSizeAndPages()
    {
        QCOMPARE(FDialog->windowTitle(), QStringLiteral("Options"));
        QCOMPARE(FDialog->size(), QSize(373, 302));
        QCOMPARE(FDialog->minimumSize(), FDialog->maximumSize());
        QCOMPARE(FDialog->PageControl1->count(), 4);
        QCOMPARE(FDialog->PageControl1->tabText(0), QStringLiteral("Service"));
        QCOMPARE(FDialog->PageControl1->tabText(1), QStringLiteral("Bindings"));
        QCOMPARE(FDialog->PageControl1->tabText(2), QStringLiteral("Logging"));
        QCOMPARE(FDialog->PageControl1->tabText(3), QStringLiteral("Security"));
        QCOMPARE(FDialog->Panel2->geometry(), QRect(0, 257, 373, 45));
        QCOMPARE(FDialog->StartOpt->count(), 3);
        QCOMPARE(FDialog->StartOpt->itemText(0), QStringLiteral("Start automatically when software starts"));
        QCOMPARE(FDialog->StartOpt->itemText(1), QStringLiteral("Start automatically when computer starts"));
        QCOMPARE(FDialog->StartOpt->itemText(2), QStringLiteral("Manual start & stop"));
        QVERIFY(!FDialog->StartOpt->isEditable());
        for (TNumberEdit* field : {FDialog->DefaultPort, FDialog->MaxResults}) {
            QCOMPARE(field->DisplayFormat(), std::string("#####"));
            QCOMPARE(field->MinValue(), std::string("0"));
            QCOMPARE(field->MaxValue(), std::string("99999"));
            QCOMPARE(field->MaxLength(), 5);
            QVERIFY(field->alignment() & Qt::AlignRight);
        }
        QVERIFY(!FDialog->Button3->isDefault() && !FDialog->Button3->autoDefault());
        QVERIFY(!FDialog->Button4->isDefault() && !FDialog->Button4->autoDefault());
    }

    void controlsStandWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("bounds");  // width 0: the control's own (labels)
        auto row = [](const char* name, const char* group, const char* caption, QRect bounds) {
            QTest::newRow(name) << name << group << caption << bounds;
        };
        row("Label1", "GroupBox1", "Service:", QRect(8, 24, 0, 0));
        row("Label2", "GroupBox1", "Port:", QRect(8, 55, 0, 0));
        row("StartOpt", "GroupBox1", "", QRect(72, 20, 279, 21));
        row("StartMin", "GroupBox1", "Start server minimized", QRect(216, 53, 129, 17));
        row("DefaultPort", "GroupBox1", "", QRect(72, 52, 49, 21));
        row("Label3", "GroupBox2", "File name:", QRect(8, 24, 0, 0));
        row("SpeedButton1", "GroupBox2", "...", QRect(328, 20, 23, 22));
        row("ExtFile", "GroupBox2", "", QRect(72, 20, 249, 21));
        row("Label6", "GroupBox5", "Max results:", QRect(8, 24, 0, 0));
        row("MaxResults", "GroupBox5", "", QRect(72, 20, 49, 21));
        row("StandardSearch", "GroupBox5", "Answer standard LDAP searches (Outlook, KDE, Apple)",
            QRect(8, 48, 265, 17));
        row("Label4", "GroupBox4", "Available:", QRect(27, 72, 0, 0));
        row("SelectBtn", "GroupBox4", ">", QRect(165, 122, 23, 22));
        row("DeselectBtn", "GroupBox4", "<", QRect(165, 154, 23, 22));
        row("Label5", "GroupBox4", "Selected:", QRect(200, 72, 0, 0));
        row("BindAll", "GroupBox4", "Bind to all interfaces", QRect(8, 24, 113, 17));
        row("BindSelected", "GroupBox4", "Bind to the following interfaces:", QRect(8, 48, 265, 17));
        row("IntAvailable", "GroupBox4", "", QRect(26, 88, 127, 113));
        row("IntSelected", "GroupBox4", "", QRect(200, 88, 131, 113));
        row("LogNone", "GroupBox3", "No logging", QRect(8, 24, 113, 17));
        row("LogSelected", "GroupBox3", "Log the following events:", QRect(8, 48, 193, 17));
        row("LogService", "GroupBox3", "Service start/stop", QRect(26, 68, 129, 17));
        row("LogRequests", "GroupBox3", "Requests", QRect(26, 108, 129, 17));
        row("LogErrors", "GroupBox3", "Errors", QRect(26, 128, 129, 17));
        row("LogSession", "GroupBox3", "Session begin/end", QRect(26, 88, 129, 17));
        row("Button3", "Panel2", "&OK", QRect(207, 9, 75, 25));
        row("Button4", "Panel2", "&Cancel", QRect(295, 9, 75, 25));
    }
    void controlsStandWhereTheLayoutPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, group);
        QFETCH(QString, caption);
        QFETCH(QRect, bounds);
        auto* widget = FDialog->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget()->objectName(), group);
        QCOMPARE(widget->pos(), bounds.topLeft());
        if (bounds.width() > 0) {
            QCOMPARE(widget->height(), bounds.height());
            // Check marks may widen a check box or radio button, never narrow it.
            if (qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QPushButton*>(widget))
                QVERIFY(widget->width() >= bounds.width());
            else
                QCOMPARE(widget->width(), bounds.width());
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        QCOMPARE(text, caption);
    }

    void groupBoxesStandOnTheirPages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("height");
        QTest::newRow("GroupBox1") << "GroupBox1" << "TabSheet1" << "Start Options" << 0 << 83;
        QTest::newRow("GroupBox2") << "GroupBox2" << "TabSheet1" << "External Database" << 87 << 55;
        QTest::newRow("GroupBox5") << "GroupBox5" << "TabSheet1" << "Limits" << 146 << 75;
        QTest::newRow("GroupBox4") << "GroupBox4" << "TabSheet2" << "Options" << 0 << 220;
        QTest::newRow("GroupBox3") << "GroupBox3" << "TabSheet3" << "Options" << 0 << 177;
    }
    void groupBoxesStandOnTheirPages()
    {
        QFETCH(QString, name);
        QFETCH(QString, page);
        QFETCH(QString, title);
        QFETCH(int, top);
        QFETCH(int, height);
        Show();
        for (int i = 0; i < 3; ++i) FDialog->PageControl1->setCurrentIndex(i);  // lays every page out
        auto* group = FDialog->findChild<QGroupBox*>(name);
        QVERIFY(group != nullptr);
        QCOMPARE(group->parentWidget()->objectName(), page);
        QCOMPARE(group->title(), title);
        QCOMPARE(group->y(), top);
        QCOMPARE(group->height(), height);
        QCOMPARE(group->width(), group->parentWidget()->width());
    }

    // The Limits group's second row: the whole caption shows, inside the group
    // and the page, and it is what assistive technology reads.
    void standardSearchBoxFitsAndIsNamedByItsCaption()
    {
        Show();
        QCheckBox* box = FDialog->StandardSearch;
        QVERIFY(box->width() >= box->sizeHint().width());
        QVERIFY(FDialog->GroupBox5->contentsRect().contains(box->geometry()));
        QVERIFY(FDialog->GroupBox5->geometry().bottom() < FDialog->TabSheet1->height());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
        QVERIFY(accessible != nullptr);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Answer standard LDAP searches (Outlook, KDE, Apple)"));
        QCOMPARE(box->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    }

    void readBackHandlesTheKeysInTheDialogsOrder()
    {
        const std::vector<std::string> expected = {
            "StartOpt",     "StartMin",    "DefaultPort", "ExtFile",    "MaxResults",  "StandardSearch",
            "BindAll",      "BindSelected", "IntSelected", "LogNone",   "LogSelected", "LogService",  "LogRequests",
            "LogErrors",    "LogSession",  "TlsCertificate", "TlsKey",  "TlsPort",     "TlsRequired", "AllowFrom"};
        QCOMPARE(ExchangedKeys(FDialog->Components(), *FOptions), expected);
    }

    void tabOrderRunsGroupByGroup()
    {
        Show();
        const QStringList expected = {"StartOpt",    "DefaultPort", "StartMin",    "ExtFile",     "MaxResults",
                                      "StandardSearch", "BindAll",  "BindSelected", "IntAvailable", "IntSelected",
                                      "LogNone",     "LogSelected", "LogService",  "LogRequests", "LogErrors",   "LogSession",
                                      "Button3",     "Button4"};
        QStringList order;
        QWidget* w = FDialog->StartOpt;
        do {
            if (w->focusPolicy() & Qt::TabFocus && expected.contains(w->objectName()) &&
                !order.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != FDialog->StartOpt);
        QCOMPARE(order, expected);
        for (const char* name : {"SpeedButton1", "SelectBtn", "DeselectBtn"})
            QCOMPARE(FDialog->findChild<QWidget*>(name)->focusPolicy(), Qt::NoFocus);
    }

    void firstShowingWithDefaults()
    {
        Show();
        QCOMPARE(FDialog->PageControl1->currentWidget(), FDialog->TabSheet1);
        QCOMPARE(FDialog->StartOpt->currentText(), QStringLiteral("Manual start & stop"));
        QCOMPARE(FDialog->DefaultPort->text(), QStringLiteral("389"));
        QCOMPARE(FDialog->MaxResults->text(), QStringLiteral("50"));
        QCOMPARE(FDialog->ExtFile->text(), QString());
        QVERIFY(!FDialog->StartMin->isChecked());
        QVERIFY(FDialog->BindAll->isChecked());
        QVERIFY(!FDialog->BindSelected->isChecked());
        QVERIFY(FDialog->LogNone->isChecked());
        QVERIFY(!FDialog->LogSelected->isChecked());
        for (QWidget* w : {static_cast<QWidget*>(FDialog->IntAvailable), static_cast<QWidget*>(FDialog->IntSelected),
                           static_cast<QWidget*>(FDialog->SelectBtn), static_cast<QWidget*>(FDialog->DeselectBtn)})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        for (QCheckBox* box : {FDialog->LogService, FDialog->LogRequests, FDialog->LogErrors, FDialog->LogSession}) {
            QVERIFY2(!box->isEnabled(), qPrintable(box->objectName()));
            QVERIFY(!box->isChecked());
        }
        QCOMPARE(ItemsOf(FDialog->IntAvailable), QStringList({"127.0.0.1", "10.0.0.5", "192.168.7.9"}));
        QCOMPARE(ItemsOf(FDialog->IntSelected), QStringList());
        QVERIFY(FErrors.empty());
    }

    void showingAgainStartsOnTheFirstPage()
    {
        Show();
        FDialog->PageControl1->setCurrentIndex(2);
        FDialog->hide();
        Show();
        QCOMPARE(FDialog->PageControl1->currentIndex(), 0);
    }

    void bindingToChosenInterfacesEnablesListsThenButtons()
    {
        Show();
        FDialog->BindSelected->click();
        QVERIFY(FDialog->IntAvailable->isEnabled());
        QVERIFY(FDialog->IntSelected->isEnabled());
        QVERIFY(!FDialog->SelectBtn->isEnabled());
        QVERIFY(!FDialog->DeselectBtn->isEnabled());
        ClickItem(FDialog->IntAvailable, "10.0.0.5");
        QVERIFY(FDialog->SelectBtn->isEnabled());
        QVERIFY(!FDialog->DeselectBtn->isEnabled());
        FDialog->LogSelected->click();
        QVERIFY(FDialog->LogErrors->isEnabled());
        FDialog->BindAll->click();
        QVERIFY(!FDialog->IntAvailable->isEnabled());
        QVERIFY(!FDialog->SelectBtn->isEnabled());
    }

    void loopbackStandsInOneListOnly_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QStringList>("selected");
        QTest::newRow("not stored") << "10.0.0.5" << QStringList{"127.0.0.1", "192.168.7.9"} << QStringList{"10.0.0.5"};
        QTest::newRow("stored") << "127.0.0.1,192.168.7.9" << QStringList{"10.0.0.5"}
                                << QStringList{"127.0.0.1", "192.168.7.9"};
    }
    void loopbackStandsInOneListOnly()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, available);
        QFETCH(QStringList, selected);
        FOptions->SetValue("IntSelected", TValue(stored.toStdString()));
        Show();
        QCOMPARE(ItemsOf(FDialog->IntAvailable), available);
        QCOMPARE(ItemsOf(FDialog->IntSelected), selected);
    }

    void addressTheHostLacksDisappears_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("after");
        QTest::newRow("OK drops it") << true << "10.0.0.5";
        QTest::newRow("Cancel keeps it") << false << "10.9.9.9,10.0.0.5";
    }
    void addressTheHostLacksDisappears()
    {
        QFETCH(bool, ok);
        QFETCH(QString, after);
        FOptions->SetValue("BindAll", TValue(false));
        FOptions->SetValue("BindSelected", TValue(true));
        FOptions->SetValue("IntSelected", TValue("10.9.9.9,10.0.0.5"));
        Show();
        QCOMPARE(ItemsOf(FDialog->IntSelected), QStringList{"10.0.0.5"});
        QVERIFY(!ItemsOf(FDialog->IntAvailable).contains("10.9.9.9"));
        QTest::mouseClick(ok ? FDialog->Button3 : FDialog->Button4, Qt::LeftButton);
        QCOMPARE(FDialog->result(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(QString::fromStdString(FOptions->GetValue("IntSelected").AsString()), after);
    }

    void movingThereAndBackAppendsAtTheEnd()
    {
        FOptions->SetValue("BindAll", TValue(false));
        FOptions->SetValue("BindSelected", TValue(true));
        Show();
        ClickItem(FDialog->IntAvailable, "127.0.0.1");
        QTest::mouseClick(FDialog->SelectBtn, Qt::LeftButton);
        QCOMPARE(ItemsOf(FDialog->IntSelected), QStringList{"127.0.0.1"});
        QVERIFY(FDialog->IntAvailable->selectedItems().isEmpty());
        QVERIFY(FDialog->IntSelected->selectedItems().isEmpty());

        FDialog->SelectBtnClick();  // again, with nothing selected: nothing happens
        QCOMPARE(ItemsOf(FDialog->IntAvailable), QStringList({"10.0.0.5", "192.168.7.9"}));

        ClickItem(FDialog->IntSelected, "127.0.0.1");
        QVERIFY(FDialog->DeselectBtn->isEnabled());
        QTest::mouseClick(FDialog->DeselectBtn, Qt::LeftButton);
        QCOMPARE(ItemsOf(FDialog->IntAvailable), QStringList({"10.0.0.5", "192.168.7.9", "127.0.0.1"}));
        QCOMPARE(ItemsOf(FDialog->IntSelected), QStringList());
    }

    void resolverFailureIsShownAndTheListStaysEmpty()
    {
        FDialog->HostAddresses = []() -> std::vector<std::string> { throw std::runtime_error("host name not found"); };
        FOptions->SetValue("IntSelected", TValue("10.0.0.5"));
        Show();
        QTRY_COMPARE(FErrors, std::vector<std::string>{"host name not found"});
        QVERIFY(FDialog->isVisible());
        QCOMPARE(FDialog->IntAvailable->count(), 0);
        QCOMPARE(ItemsOf(FDialog->IntSelected), QStringList{"10.0.0.5"});  // no reconciling done
        QVERIFY(FDialog->BindAll->isChecked());
        QVERIFY(!FDialog->IntSelected->isEnabled());  // states left by the radio buttons' clicks
        QVERIFY(!FDialog->LogService->isEnabled());
    }

    void enterAndEscapeDoNotClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }
    void enterAndEscapeDoNotClose()
    {
        QFETCH(int, key);
        Show();
        FDialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        for (QWidget* w : {static_cast<QWidget*>(FDialog->DefaultPort), static_cast<QWidget*>(FDialog->ExtFile),
                           static_cast<QWidget*>(FDialog->Button3)}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key(key));
            QVERIFY2(FDialog->isVisible(), qPrintable(w->objectName()));
        }
    }

    void closingByTheTitleBarIsCancel()
    {
        Show();
        FDialog->ExtFile->setText("changed.ldif");
        FDialog->close();
        QCOMPARE(FDialog->result(), int(QDialog::Rejected));
        QCOMPARE(FOptions->GetValue("ExtFile"), TValue(""));
    }

    void fileChooserFillsTheFileName()
    {
        std::vector<std::string> offered;
        std::optional<std::string> answer = "/data/people.LDIF";
        FDialog->ChooseFile = [&](const std::string& previous) {
            offered.push_back(previous);
            return answer;
        };
        Show();
        FDialog->ExtFile->setText("typed.ldif");
        QTest::mouseClick(FDialog->SpeedButton1, Qt::LeftButton);
        QCOMPARE(FDialog->ExtFile->text(), QStringLiteral("/data/people.LDIF"));
        answer = std::nullopt;  // the user cancels the second time
        QTest::mouseClick(FDialog->SpeedButton1, Qt::LeftButton);
        QCOMPARE(FDialog->ExtFile->text(), QStringLiteral("/data/people.LDIF"));
        QCOMPARE(offered, (std::vector<std::string>{"", "/data/people.LDIF"}));
    }

    void fileChooserIsTheLdifDatabaseChooser()
    {
        QFileDialog chooser;
        TEditOptions::ConfigureOpenDlg(chooser);
        QCOMPARE(chooser.windowTitle(), QStringLiteral("LDIF Database"));
        QCOMPARE(chooser.fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(chooser.acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(chooser.defaultSuffix(), QStringLiteral("LDIF"));
        QVERIFY(chooser.testOption(QFileDialog::HideNameFilterDetails));
        QCOMPARE(chooser.nameFilters().size(), 1);
        QVERIFY(chooser.nameFilters().first().startsWith("LDAP Data Interchange Format (*.LDF,*.LDIF)"));
        QVERIFY(chooser.isSizeGripEnabled());
    }

    void okReadsEveryControlBack()
    {
        Show();
        FDialog->StartOpt->setCurrentIndex(1);
        FDialog->StartMin->setChecked(true);
        FDialog->DefaultPort->SetTextValue("10389");
        FDialog->ExtFile->setText("/srv/people.ldif");
        FDialog->MaxResults->SetTextValue("0");
        FDialog->BindSelected->click();
        ClickItem(FDialog->IntAvailable, "192.168.7.9");
        FDialog->SelectBtnClick();
        FDialog->LogSelected->click();
        FDialog->LogSession->setChecked(true);
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);

        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QVERIFY(FErrors.empty());
        const std::vector<std::pair<std::string, TValue>> expected = {
            {"StartOpt", TValue(1)},          {"DefaultPort", TValue(10389)},     {"ExtFile", TValue("/srv/people.ldif")},
            {"LogNone", TValue(false)},       {"LogSelected", TValue(true)},      {"LogService", TValue(false)},
            {"LogRequests", TValue(false)},   {"LogErrors", TValue(false)},       {"LogSession", TValue(true)},
            {"BindAll", TValue(false)},       {"BindSelected", TValue(true)},     {"IntSelected", TValue("192.168.7.9")},
            {"StartMin", TValue(true)},       {"MaxResults", TValue(0)},
        };
        for (const auto& [key, value] : expected) QVERIFY2(FOptions->GetValue(key) == value, key.c_str());
        QCOMPARE(FOptions->GetPreviousValue("StartOpt"), TValue(2));
    }

    // One row per case: the StandardSearch line of the settings file (null:
    // no such line), whether the box is then ticked, how the user leaves it
    // and what OK stores. Every other key keeps its text to the byte.
    void standardSearchBoxFollowsItsKey_data()
    {
        QTest::addColumn<QString>("fileLine");
        QTest::addColumn<bool>("tickedOnShow");
        QTest::addColumn<bool>("tickedOnOk");
        QTest::addColumn<QString>("storedAfterOk");
        QTest::newRow("Yes stays ticked") << "StandardSearch=Yes" << true << true << "Yes";
        QTest::newRow("Yes unticked") << "StandardSearch=Yes" << true << false << "No";
        QTest::newRow("No ticked") << "StandardSearch=No" << false << true << "Yes";
        QTest::newRow("No stays unticked") << "StandardSearch=No" << false << false << "No";
        QTest::newRow("missing ticked") << QString() << false << true << "Yes";
        QTest::newRow("missing stays unticked") << QString() << false << false << "No";
    }
    void standardSearchBoxFollowsItsKey()
    {
        QFETCH(QString, fileLine);
        QFETCH(bool, tickedOnShow);
        QFETCH(bool, tickedOnOk);
        QFETCH(QString, storedAfterOk);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString ini = dir.filePath("VESKA.INI");
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[OPTIONS]\nExtFile=/srv/M\xfcller.ldif\nMaxResults=20\nBindAll=No\nBindSelected=Yes\n"
                   "IntSelected=10.0.0.5\nTlsRequired=Yes\nAllowFrom=10.0.0.0/8, fd00::/8\n");
        if (!fileLine.isNull()) file.write(fileLine.toLatin1() + "\n");
        file.close();
        FOptions->LoadFromFile(QFile::encodeName(ini).toStdString());
        const int key = FOptions->IndexOfOption("StandardSearch");
        std::vector<std::string> before;
        for (int i = 0; i < FOptions->Count(); ++i) before.push_back(FOptions->GetAsText(i));

        Show();
        QCOMPARE(FDialog->StandardSearch->isChecked(), tickedOnShow);
        if (tickedOnOk != tickedOnShow) QTest::mouseClick(FDialog->StandardSearch, Qt::LeftButton);
        QCOMPARE(FDialog->StandardSearch->isChecked(), tickedOnOk);
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);

        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QVERIFY(FErrors.empty());
        QCOMPARE(QString::fromStdString(FOptions->GetAsText(key)), storedAfterOk);
        for (int i = 0; i < FOptions->Count(); ++i)
            if (i != key) QVERIFY2(FOptions->GetAsText(i) == before[i], FOptions->Option(i).Name.c_str());
    }

    void conversionErrorIsShownAndTheDialogStillClosesWithOk()
    {
        Show();
        FDialog->StartOpt->setCurrentIndex(0);
        FDialog->ExtFile->setText("later.ldif");
        FDialog->DefaultPort->setFocus();
        FDialog->DefaultPort->setText("389.5");
        FDialog->DefaultPort->ParseValue();  // as when the field is left
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);

        QCOMPARE(FErrors, std::vector<std::string>{"'389.5' is not a valid integer value"});
        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QCOMPARE(FOptions->GetValue("StartOpt"), TValue(0));
        QCOMPARE(FOptions->GetValue("ExtFile"), TValue(""));  // after the failing field: as before
    }

    void cancelLeavesEverySetting()
    {
        Show();
        FDialog->StartOpt->setCurrentIndex(1);
        FDialog->BindSelected->click();
        FDialog->LogSelected->click();
        FDialog->MaxResults->SetTextValue("7");
        QTest::mouseClick(FDialog->Button4, Qt::LeftButton);
        QCOMPARE(FDialog->result(), int(QDialog::Rejected));
        TVESKAOptions defaults;
        for (int i = 0; i < defaults.Count(); ++i) {
            const std::string key = defaults.Option(i).Name;
            QVERIFY2(FOptions->GetValue(key) == defaults.GetValue(key), key.c_str());
            QVERIFY2(FOptions->GetPreviousValue(key).IsEmpty(), key.c_str());
        }
    }

    void bothRadioButtonsOfAPairFalseLeaveTheirControlsEnabled()
    {
        FOptions->SetValue("BindAll", TValue(false));
        FOptions->SetValue("LogNone", TValue(false));
        Show();
        QVERIFY(!FDialog->BindAll->isChecked() && !FDialog->BindSelected->isChecked());
        QVERIFY(!FDialog->LogNone->isChecked() && !FDialog->LogSelected->isChecked());
        QVERIFY(FDialog->IntAvailable->isEnabled());
        QVERIFY(FDialog->LogRequests->isEnabled());
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);
        QCOMPARE(FOptions->GetValue("BindAll"), TValue(false));
        QCOMPARE(FOptions->GetValue("BindSelected"), TValue(false));
    }
};

QTEST_MAIN(TestEditOptions)
#include "tst_edit_options.moc"
