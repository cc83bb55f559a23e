#include "ui/UserDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

std::optional<QString> Ask(QWidget* parent, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setNameFilter(QString::fromLatin1(kLdifFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(kLdifSuffix));
    if (mode == QFileDialog::AcceptOpen) {
        // The chosen file need not exist: reading it then fails in the box.
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

std::optional<QString> TQtUserDialogs::ImportFileName(QWidget* parent) { return Ask(parent, QFileDialog::AcceptOpen); }

std::optional<QString> TQtUserDialogs::ExportFileName(QWidget* parent) { return Ask(parent, QFileDialog::AcceptSave); }

void TQtUserDialogs::ShowError(QWidget* parent, const QString& title, const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) box.setDetailedText(detail);
    box.exec();
}
