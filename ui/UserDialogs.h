// The questions the main window asks its user: which file to import from or
// export to, and the message boxes. Tests answer them through a fake.
#pragma once

#include <QString>

#include <optional>

class QWidget;

class IUserDialogs {
public:
    virtual ~IUserDialogs() = default;
    // The chosen file, or nothing when the user cancels.
    virtual std::optional<QString> ImportFileName(QWidget* parent) = 0;
    virtual std::optional<QString> ExportFileName(QWidget* parent) = 0;
    // A modal error box: text, and the cause under its details when known.
    virtual void ShowError(QWidget* parent, const QString& title, const QString& text, const QString& detail) = 0;
};

// Qt's own dialogs.
class TQtUserDialogs final : public IUserDialogs {
public:
    std::optional<QString> ImportFileName(QWidget* parent) override;
    std::optional<QString> ExportFileName(QWidget* parent) override;
    void ShowError(QWidget* parent, const QString& title, const QString& text, const QString& detail) override;
};

// The file filter of both dialogs and the suffix added to a name without one.
inline const char* const kLdifFilter = "LDAP Data Interchange Format (*.LDF *.LDIF)";
inline const char* const kLdifSuffix = "LDF";
