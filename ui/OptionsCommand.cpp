#include "ui/OptionsCommand.h"

#include "ui/EditOpt.h"
#include "ui/XdgShellFolders.h"

void RunOptionsCommand(QWidget* parent, const TOptionsCommand& command)
{
    int result = QDialog::Rejected;
    {
        TEditOptions dialog(parent);
        dialog.Options = command.Options;
        if (command.Prepare) command.Prepare(dialog);
        result = command.Exec ? command.Exec(dialog) : dialog.exec();
    }
    if (result != QDialog::Accepted || command.Options == nullptr || !command.ApplyNewSettings) return;

    TXdgShellFolders xdg(command.ProgramDir);
    IShellFolders& shell = command.Shell ? *command.Shell : xdg;
    try {
        command.ApplyNewSettings(
            [&] { UpdateStartupShortcut(*command.Options, command.ProgramPath, shell); });
    } catch (const std::exception& e) {
        if (command.ShowError) command.ShowError(e.what());
    }
}
