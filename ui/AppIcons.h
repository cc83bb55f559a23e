// The program's images: from the desktop's icon theme by their freedesktop
// names, else the program's own drawings.
#pragma once

#include <QIcon>

enum class TAppIcon { Start, Stop, Options, Application };

QIcon AppIcon(TAppIcon which);
// The program's own drawing alone (the tray and tests use it).
QIcon OwnAppIcon(TAppIcon which);
