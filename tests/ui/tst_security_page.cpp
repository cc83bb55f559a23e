// The options dialog's Security page offscreen: where its controls stand, how
// they are labelled, filled and read back, their enabling rule and choosers.
#include "config/VESKAOptions.h"
#include "ui/EditOpt.h"
#include "ui/NumberEdit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <memory>

using TPemFile = TEditOptions::TPemFile;

namespace {

// What a control shows: a check box its state, anything else its text.
QString Shown(QWidget* widget)
{
    if (auto* box = qobject_cast<QCheckBox*>(widget)) return box->isChecked() ? "Yes" : "No";
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    return QString();
}

void Enter(QWidget* widget, const QString& input)
{
    if (auto* box = qobject_cast<QCheckBox*>(widget)) box->setChecked(input == "Yes");
    else if (auto* number = qobject_cast<TNumberEdit*>(widget)) number->SetTextValue(input.toStdString());
    else if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(input);
}

}  // namespace

class TestSecurityPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TVESKAOptions> FOptions;
    std::unique_ptr<TEditOptions> FDialog;
    std::vector<std::string> FErrors;

    void Show()
    {
        FDialog->show();
        FDialog->PageControl1->setCurrentWidget(FDialog->TabSheet4);
    }
    QWidget* Control(const QString& name) { return FDialog->findChild<QWidget*>(name); }
    std::string StoredText(const char* key) { return FOptions->GetAsText(FOptions->IndexOfOption(key)); }

private slots:
    void init()
    {
        FOptions = std::make_unique<TVESKAOptions>();
        FDialog = std::make_unique<TEditOptions>();
        FErrors.clear();
        FDialog->Options = FOptions.get();
        FDialog->HostAddresses = [] { return std::vector<std::string>{"10.0.0.5", "fd00::5"}; };
        FDialog->ShowError = [this](const std::string& m) { FErrors.push_back(m); };
        FDialog->ChoosePemFile = [](TPemFile, const std::string&) -> std::optional<std::string> {
            throw std::logic_error("no chooser expected");
        };
    }
    void cleanup()
    {
        FDialog.reset();
        FOptions.reset();
    }

    void securityIsTheFourthPage()
    {
        QCOMPARE(FDialog->PageControl1->tabText(3), QStringLiteral("Security"));
        QCOMPARE(FDialog->PageControl1->widget(3), FDialog->TabSheet4);
    }

    // One row per control: its group, caption and bounds (width 0: the
    // control's own), and for a field the label that names it.
    void controlsStandInTheirGroups_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("bounds");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("accessibleName");
        auto row = [](const char* name, const char* group, const char* caption, QRect bounds, const char* label,
                      const char* accessibleName) {
            QTest::newRow(name) << name << group << caption << bounds << label << accessibleName;
        };
        row("TlsCertificate", "GroupBox6", "", QRect(72, 20, 249, 21), "Label7", "Certificate");
        row("SpeedButton2", "GroupBox6", "...", QRect(328, 20, 23, 22), "", "Choose the certificate file");
        row("TlsKey", "GroupBox6", "", QRect(72, 52, 249, 21), "Label8", "Private key");
        row("SpeedButton3", "GroupBox6", "...", QRect(328, 52, 23, 22), "", "Choose the private key file");
        row("TlsPort", "GroupBox7", "", QRect(72, 20, 49, 21), "Label9", "LDAPS port");
        row("TlsRequired", "GroupBox7", "Require &encryption", QRect(216, 22, 129, 17), "", "");
        row("AllowFrom", "GroupBox8", "", QRect(72, 20, 279, 21), "Label10", "Allow from");
        row("Label7", "GroupBox6", "Ce&rtificate:", QRect(8, 24, 0, 0), "", "");
        row("Label8", "GroupBox6", "Private &key:", QRect(8, 55, 0, 0), "", "");
        row("Label9", "GroupBox7", "LDAPS &port:", QRect(8, 24, 0, 0), "", "");
        row("Label10", "GroupBox8", "&Allow from:", QRect(8, 24, 0, 0), "", "");
        // The other pages' fields are named by their labels too.
        row("DefaultPort", "GroupBox1", "", QRect(72, 52, 49, 21), "Label2", "Port");
        row("IntSelected", "GroupBox4", "", QRect(200, 88, 131, 113), "Label5", "Selected");
    }
    void controlsStandInTheirGroups()
    {
        QFETCH(QString, name);
        QFETCH(QString, group);
        QFETCH(QString, caption);
        QFETCH(QRect, bounds);
        QFETCH(QString, label);
        QFETCH(QString, accessibleName);
        QWidget* widget = Control(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget()->objectName(), group);
        QCOMPARE(widget->pos(), bounds.topLeft());
        if (bounds.width() > 0) {
            QCOMPARE(widget->height(), bounds.height());
            if (qobject_cast<QCheckBox*>(widget)) QVERIFY(widget->width() >= bounds.width());
            else QCOMPARE(widget->width(), bounds.width());
        }
        QString text;
        if (auto* l = qobject_cast<QLabel*>(widget)) text = l->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        QCOMPARE(text, caption);
        if (!label.isEmpty()) QCOMPARE(FDialog->findChild<QLabel*>(label)->buddy(), widget);
        if (!accessibleName.isEmpty()) QCOMPARE(widget->accessibleName(), accessibleName);
        if (qobject_cast<QPushButton*>(widget)) QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
    }

    // One row per key: what the store holds, what the page then shows, what
    // the user enters and what OK stores.
    void eachKeyIsFilledAndReadBack_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("storedAfterOk");
        QTest::newRow("certificate relative") << "TlsCertificate" << "" << "" << "certs/server.pem"
                                               << "certs/server.pem";
        QTest::newRow("certificate absolute") << "TlsCertificate" << "/etc/veska/old.pem" << "/etc/veska/old.pem"
                                               << "/etc/veska/new.pem" << "/etc/veska/new.pem";
        QTest::newRow("key with umlaut") << "TlsKey" << "" << "" << QString::fromUtf8("schl\xc3\xbcssel.pem")
                                          << QString::fromUtf8("schl\xc3\xbcssel.pem");
        QTest::newRow("port default") << "TlsPort" << "636" << "636" << "10636" << "10636";
        QTest::newRow("port off") << "TlsPort" << "636" << "636" << "0" << "0";
        QTest::newRow("required on") << "TlsRequired" << "No" << "No" << "Yes" << "Yes";
        QTest::newRow("required off") << "TlsRequired" << "Yes" << "Yes" << "No" << "No";
        QTest::newRow("networks both families") << "AllowFrom" << "" << ""
                                                 << "127.0.0.1, 10.0.0.0/8, ::1, fd00::/8"
                                                 << "127.0.0.1, 10.0.0.0/8, ::1, fd00::/8";
        QTest::newRow("networks cleared") << "AllowFrom" << "192.168.0.0/16" << "192.168.0.0/16" << "" << "";
    }
    void eachKeyIsFilledAndReadBack()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(QString, entered);
        QFETCH(QString, storedAfterOk);
        const std::string name = key.toStdString();
        // A certificate keeps the encryption controls usable.
        FOptions->SetValue("TlsCertificate", TValue("cert.pem"));
        FOptions->SetAsText(FOptions->IndexOfOption(name), stored.toUtf8().toStdString());
        Show();
        QCOMPARE(Shown(Control(key)), shown);
        Enter(Control(key), entered);
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);
        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QVERIFY(FErrors.empty());
        QCOMPARE(QString::fromUtf8(StoredText(name.c_str())), storedAfterOk);
    }

    void ldapsPortNeedsACertificate_data()
    {
        QTest::addColumn<QString>("storedCertificate");
        QTest::addColumn<QString>("typedCertificate");  // null: nothing typed
        QTest::addColumn<bool>("enabled");
        QTest::newRow("none stored") << "" << QString() << false;
        QTest::newRow("stored") << "cert.pem" << QString() << true;
        QTest::newRow("typed") << "" << "cert.pem" << true;
        QTest::newRow("cleared") << "cert.pem" << "" << false;
    }
    void ldapsPortNeedsACertificate()
    {
        QFETCH(QString, storedCertificate);
        QFETCH(QString, typedCertificate);
        QFETCH(bool, enabled);
        FOptions->SetValue("TlsCertificate", TValue(storedCertificate.toStdString()));
        Show();
        if (!typedCertificate.isNull()) FDialog->TlsCertificate->setText(typedCertificate);
        QCOMPARE(FDialog->TlsPort->isEnabled(), enabled);
        QVERIFY(FDialog->TlsRequired->isEnabled());
        QVERIFY(FDialog->TlsKey->isEnabled());
        QVERIFY(FDialog->AllowFrom->isEnabled());
    }

    void choosersFillTheirField_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("answer");  // null: the user cancels
        QTest::addColumn<QString>("after");
        QTest::newRow("certificate chosen") << "SpeedButton2" << "TlsCertificate" << int(TPemFile::Certificate)
                                            << "/etc/veska/server.pem" << "/etc/veska/server.pem";
        QTest::newRow("certificate cancelled") << "SpeedButton2" << "TlsCertificate" << int(TPemFile::Certificate)
                                               << QString() << "typed";
        QTest::newRow("key chosen") << "SpeedButton3" << "TlsKey" << int(TPemFile::Key)
                                    << QString::fromUtf8("/home/j\xc3\xbcrgen/key.pem")
                                    << QString::fromUtf8("/home/j\xc3\xbcrgen/key.pem");
        QTest::newRow("key cancelled") << "SpeedButton3" << "TlsKey" << int(TPemFile::Key) << QString() << "typed";
    }
    void choosersFillTheirField()
    {
        QFETCH(QString, button);
        QFETCH(QString, field);
        QFETCH(int, which);
        QFETCH(QString, answer);
        QFETCH(QString, after);
        std::vector<std::pair<int, std::string>> asked;
        FDialog->ChoosePemFile = [&](TPemFile kind, const std::string& current) -> std::optional<std::string> {
            asked.emplace_back(int(kind), current);
            if (answer.isNull()) return std::nullopt;
            return answer.toUtf8().toStdString();
        };
        Show();
        auto* edit = qobject_cast<QLineEdit*>(Control(field));
        edit->setText("typed");
        QTest::mouseClick(qobject_cast<QPushButton*>(Control(button)), Qt::LeftButton);
        QCOMPARE(edit->text(), after);
        QCOMPARE(asked, (std::vector<std::pair<int, std::string>>{{which, "typed"}}));
    }

    void bindingsKeepIPv6Addresses_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("storedAfterOk");
        QTest::newRow("none stored") << "" << QStringList{"127.0.0.1", "10.0.0.5", "fd00::5"} << QStringList{} << "";
        QTest::newRow("same spelling") << "fd00::5" << QStringList{"127.0.0.1", "10.0.0.5"} << QStringList{"fd00::5"}
                                       << "fd00::5";
        // The host's fd00::5 in another spelling stands selected only, as stored.
        QTest::newRow("other spelling") << "10.0.0.5,FD00:0::5" << QStringList{"127.0.0.1"}
                                        << QStringList{"10.0.0.5", "FD00:0::5"} << "10.0.0.5,FD00:0::5";
        QTest::newRow("not the host's") << "fd00::6" << QStringList{"127.0.0.1", "10.0.0.5", "fd00::5"}
                                        << QStringList{} << "";
    }
    void bindingsKeepIPv6Addresses()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, available);
        QFETCH(QStringList, selected);
        QFETCH(QString, storedAfterOk);
        FOptions->SetValue("IntSelected", TValue(stored.toStdString()));
        Show();
        QStringList shownAvailable, shownSelected;
        for (int i = 0; i < FDialog->IntAvailable->count(); ++i) shownAvailable << FDialog->IntAvailable->item(i)->text();
        for (int i = 0; i < FDialog->IntSelected->count(); ++i) shownSelected << FDialog->IntSelected->item(i)->text();
        QCOMPARE(shownAvailable, available);
        QCOMPARE(shownSelected, selected);
        QTest::mouseClick(FDialog->Button3, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(FOptions->IntSelected()), storedAfterOk);
    }
};

QTEST_MAIN(TestSecurityPage)
#include "tst_security_page.moc"
