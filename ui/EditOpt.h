// The options dialog. Its controls bear the settings' key names, so filling it
// and reading it back is the settings exchange; its own code fills the list of
// the host's addresses, keeps the two address lists apart, enables controls and
// runs the file choosers. It never writes the settings file.
#pragma once

#include "config/Option.h"
#include "ui/ControlAdapters.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TNumberEdit;

class TEditOptions : public QDialog {
    Q_OBJECT

public:
    explicit TEditOptions(QWidget* parent = nullptr);
    ~TEditOptions() override;

    // Set by the caller before the dialog is shown; not owned.
    TOptions* Options = nullptr;

    // Seams, replaceable before the dialog is shown. The defaults ask the
    // resolver, run the "LDIF Database" chooser and show a message box.
    std::function<std::vector<std::string>()> HostAddresses;
    // The chosen file's full path, or nothing when the user cancels; gets the
    // file chosen before in this showing (empty the first time).
    std::function<std::optional<std::string>(const std::string& previous)> ChooseFile;
    std::function<void(const std::string& message)> ShowError;
    // The certificate and key choosers: the chosen PEM file's full path or
    // nothing; gets the field's current text.
    enum class TPemFile { Certificate, Key };
    std::function<std::optional<std::string>(TPemFile which, const std::string& current)> ChoosePemFile;

    // The chooser as the dialog runs it: title, filter, default extension, an
    // existing file only.
    static void ConfigureOpenDlg(QFileDialog& dialog);
    static void ConfigurePemDlg(QFileDialog& dialog, TPemFile which);

    // The form as the settings exchange walks it: every component in the order
    // of the form's layout description.
    IComponent& Components() { return FComponents; }

    void FormShow();
    void ReconcileInterfaceLists();
    void UpdateControlStates();
    void BindAllClick();
    void SelectBtnClick();
    void DeselectBtnClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void Button3Click();

    QWidget* Panel1;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QComboBox* StartOpt;
    QCheckBox* StartMin;
    TNumberEdit* DefaultPort;
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QPushButton* SpeedButton1;
    QLineEdit* ExtFile;
    QGroupBox* GroupBox5;
    QLabel* Label6;
    TNumberEdit* MaxResults;
    QCheckBox* StandardSearch;
    QWidget* TabSheet2;
    QGroupBox* GroupBox4;
    QLabel* Label4;
    QPushButton* SelectBtn;
    QPushButton* DeselectBtn;
    QLabel* Label5;
    QRadioButton* BindAll;
    QRadioButton* BindSelected;
    QListWidget* IntAvailable;
    QListWidget* IntSelected;
    QWidget* TabSheet3;
    QGroupBox* GroupBox3;
    QRadioButton* LogNone;
    QRadioButton* LogSelected;
    QCheckBox* LogService;
    QCheckBox* LogRequests;
    QCheckBox* LogErrors;
    QCheckBox* LogSession;
    QWidget* TabSheet4;
    QGroupBox* GroupBox6;
    QLabel* Label7;
    QLabel* Label8;
    QLineEdit* TlsCertificate;
    QPushButton* SpeedButton2;
    QLineEdit* TlsKey;
    QPushButton* SpeedButton3;
    QGroupBox* GroupBox7;
    QLabel* Label9;
    TNumberEdit* TlsPort;
    QCheckBox* TlsRequired;
    QGroupBox* GroupBox8;
    QLabel* Label10;
    QLineEdit* AllowFrom;
    QWidget* Panel2;
    QPushButton* Button3;
    QPushButton* Button4;

protected:
    void showEvent(QShowEvent* event) override;
    // Enter and Escape do not close the dialog: neither button is its default
    // or cancel button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    TQtComponent FComponents;
    std::string FLastChosenFile;

    void BuildServicePage();
    void BuildBindingsPage();
    void BuildLoggingPage();
    void BuildSecurityPage();
    void ChoosePem(TPemFile which, QLineEdit* field);
    void SetTabOrder();
    void ShowErrorSoon(const std::string& message);
};
