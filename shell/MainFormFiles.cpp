// File > Import and File > Export. Kept apart from MainForm.cpp: the LDIF
// unit and the log-file unit each declare an I/O error class of the same name.
#include "directory/LDIF.h"
#include "shell/MainForm.h"

void TMainForm::Import(const std::string& path) { ImportLDIF(path); }

void TMainForm::Export(const std::string& path) { ExportLDIF(path); }
