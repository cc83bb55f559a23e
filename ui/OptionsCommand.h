// The Options command: the options dialog shown modally; after an OK the
// settings are saved, the Startup shortcut follows StartOpt and a running
// service is restarted. Cancel changes nothing.
#pragma once

#include "config/Option.h"
#include "ui/AutoRun.h"

#include <functional>
#include <string>

class QWidget;
class TEditOptions;

struct TOptionsCommand {
    TOptions* Options = nullptr;
    std::string ProgramPath;  // the running program, target of the shortcut
    std::string ProgramDir;   // its program folder, which the shortcut passes on
    // Saves the settings, runs afterSave, then restarts a running service;
    // an error ends the sequence where it happens.
    std::function<void(const std::function<void()>& afterSave)> ApplyNewSettings;
    // The toolkit's error box.
    std::function<void(const std::string& message)> ShowError;
    // The desktop's folders; the XDG ones when not set.
    IShellFolders* Shell = nullptr;
    // Seams: prepares the dialog before it is shown, and shows it modally
    // (QDialog::exec when not set), giving the dialog's result.
    std::function<void(TEditOptions&)> Prepare;
    std::function<int(TEditOptions&)> Exec;
};

void RunOptionsCommand(QWidget* parent, const TOptionsCommand& command);
