// Fakes for the widget tests: a notification area that records what it is
// asked, and user dialogs that answer from a script and record the boxes.
#pragma once

#include "ui/NotificationArea.h"
#include "ui/UserDialogs.h"

#include <QMenu>
#include <QString>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TRecordingNotificationArea final : public INotificationArea {
public:
    // One shown state of the icon: the image index it came from (-1: none) and its tip.
    struct TShown {
        int Image = -1;
        std::string Tip;
    };

    void Add(const TTrayIconData& icon) override
    {
        std::lock_guard lock(FLock);
        ++FAdds;
        FPresent = true;
        FShown.push_back(ShownOf(icon));
    }
    void Modify(const TTrayIconData& icon) override
    {
        std::lock_guard lock(FLock);
        FShown.push_back(ShownOf(icon));
    }
    void Delete() override
    {
        std::lock_guard lock(FLock);
        ++FDeletes;
        FPresent = false;
    }
    int ImageCount(const TImageListHandle& images) override { return images ? static_cast<int>(images->size()) : 0; }
    TIconHandle IconFromImageList(const TImageListHandle& images, int index) override
    {
        if (!images || index < 0 || index >= static_cast<int>(images->size())) return 0;
        std::lock_guard lock(FLock);
        const TIconHandle handle = ++FCreated;
        FLive[handle] = index;
        return handle;
    }
    void ReleaseIcon(TIconHandle icon) override
    {
        std::lock_guard lock(FLock);
        if (FLive.erase(icon) == 1) ++FReleased;
        else ++FBadReleases;
    }

    bool Available() const override { return TrayExists; }
    QPoint CursorPos() const override { return QPoint(640, 470); }
    void Popup(QMenu& menu, const QPoint& at) override
    {
        Popups.push_back({menu.objectName(), at});
    }

    // The mouse messages a click would bring.
    void Send(TTrayMouse message) const { SendMouse(message); }

    bool TrayExists = true;
    std::vector<std::pair<QString, QPoint>> Popups;

    std::vector<TShown> Shown() const
    {
        std::lock_guard lock(FLock);
        return FShown;
    }
    bool Present() const
    {
        std::lock_guard lock(FLock);
        return FPresent;
    }
    int Adds() const
    {
        std::lock_guard lock(FLock);
        return FAdds;
    }
    int Deletes() const
    {
        std::lock_guard lock(FLock);
        return FDeletes;
    }
    uint64_t Created() const
    {
        std::lock_guard lock(FLock);
        return FCreated;
    }
    uint64_t Released() const
    {
        std::lock_guard lock(FLock);
        return FReleased;
    }
    int BadReleases() const
    {
        std::lock_guard lock(FLock);
        return FBadReleases;
    }

private:
    TShown ShownOf(const TTrayIconData& icon) const
    {
        const auto it = FLive.find(icon.Icon);
        return {it == FLive.end() ? -1 : it->second, icon.Tip};
    }

    // FLock guards every field below: the animation thread calls in.
    mutable std::mutex FLock;
    std::vector<TShown> FShown;
    std::map<TIconHandle, int> FLive;
    uint64_t FCreated = 0;
    uint64_t FReleased = 0;
    int FBadReleases = 0;
    int FAdds = 0;
    int FDeletes = 0;
    bool FPresent = false;
};

class TScriptedDialogs final : public IUserDialogs {
public:
    struct TBox {
        QString Title, Text, Detail;
        QWidget* Parent = nullptr;
    };

    std::optional<QString> ImportFileName(QWidget*) override { return Next(); }
    std::optional<QString> ExportFileName(QWidget*) override { return Next(); }
    void ShowError(QWidget* parent, const QString& title, const QString& text, const QString& detail) override
    {
        Boxes.push_back({title, text, detail, parent});
    }

    // Answers of the file dialogs in turn; nothing is a cancel.
    std::deque<std::optional<QString>> Answers;
    std::vector<TBox> Boxes;
    int Asked = 0;

private:
    std::optional<QString> Next()
    {
        ++Asked;
        if (Answers.empty()) return std::nullopt;
        std::optional<QString> answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
};
