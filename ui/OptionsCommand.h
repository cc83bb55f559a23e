// The Options command: the options dialog shown modally; after an OK the
// settings are saved, the Startup shortcut follows StartOpt and the service is
// restarted. Cancel changes nothing.
#pragma once

#include "config/Option.h"
#include "ui/AutoRun.h"

#include <functional>
#include <string>

class QWidget;
class TEditOptions;

struct TOptionsCommand {
    TOptions* Options = nullptr;
    std::string SettingsPath;  // VESKA.INI in the program folder
    std::string ProgramPath;   // the running program, target of the shortcut
    std::function<void()> RestartService;
    // The toolkit's error box; the rest of the command does not run after it.
    std::function<void(const std::string& message)> ShowError;
    // The desktop's folders; the XDG ones when not set.
    IShellFolders* Shell = nullptr;
    // Seams: prepares the dialog before it is shown, and shows it modally
    // (QDialog::exec when not set), giving the dialog's result.
    std::function<void(TEditOptions&)> Prepare;
    std::function<int(TEditOptions&)> Exec;
};

void RunOptionsCommand(QWidget* parent, const TOptionsCommand& command);
