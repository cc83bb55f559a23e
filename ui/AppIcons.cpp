#include "ui/AppIcons.h"

#include <QString>

// Outside any namespace, as Qt's resource macro asks. A static library's
// resources are dropped by the linker unless something refers to them.
static void InitResources() { Q_INIT_RESOURCE(veska); }

namespace {

struct TIconName {
    const char* Theme;
    const char* Own;
};

TIconName NameOf(TAppIcon which)
{
    switch (which) {
    case TAppIcon::Start: return {"media-playback-start", ":/icons/start.svg"};
    case TAppIcon::Stop: return {"media-playback-stop", ":/icons/stop.svg"};
    case TAppIcon::Options: return {"preferences-system", ":/icons/options.svg"};
    case TAppIcon::Application: break;
    }
    return {"veska", ":/icons/veska.svg"};
}

} // namespace

QIcon OwnAppIcon(TAppIcon which)
{
    static const bool initialised = (InitResources(), true);
    (void)initialised;
    return QIcon(QString::fromLatin1(NameOf(which).Own));
}

QIcon AppIcon(TAppIcon which) { return QIcon::fromTheme(QString::fromLatin1(NameOf(which).Theme), OwnAppIcon(which)); }
