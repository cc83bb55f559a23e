#include "ui/OptionsCommand.h"

#include "ui/EditOpt.h"
#include "ui/XdgShellFolders.h"

void RunOptionsCommand(QWidget* parent, const TOptionsCommand& command)
{
    TEditOptions dialog(parent);
    dialog.Options = command.Options;
    if (command.Prepare) command.Prepare(dialog);
    const int result = command.Exec ? command.Exec(dialog) : dialog.exec();
    if (result != QDialog::Accepted || command.Options == nullptr) return;

    try {
        command.Options->SaveToFile(command.SettingsPath);
        TXdgShellFolders xdg;
        UpdateStartupShortcut(*command.Options, command.ProgramPath, command.Shell ? *command.Shell : xdg);
        if (command.RestartService) command.RestartService();
    } catch (const std::exception& e) {
        if (command.ShowError) command.ShowError(e.what());
    }
}
