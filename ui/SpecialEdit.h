// An edit field that keeps a value apart from its text. The text follows the
// value whenever FormatValue runs; the value follows the text only through
// ParseValue, which runs when the field loses the focus and when Tab, Enter,
// Escape, Cancel, Execute or an arrow key is pressed in it. Both steps do
// nothing here; derived fields give them their meaning.
#pragma once

#include "config/Value.h"

#include <QLineEdit>

#include <string>

class TSpecialEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TSpecialEdit(QWidget* parent = nullptr);

    const std::string& DisplayFormat() const { return FDisplayFormat; }
    // A different picture is stored and the value shown through it.
    void SetDisplayFormat(const std::string& format);
    // Bounds as text, empty for none; they take effect at the next ParseValue.
    const std::string& MinValue() const { return FMinValue; }
    void SetMinValue(const std::string& value) { FMinValue = value; }
    const std::string& MaxValue() const { return FMaxValue; }
    void SetMaxValue(const std::string& value) { FMaxValue = value; }

    const TValue& Value() const { return FValue; }
    // A value that differs (0 and 0.0 do not) is stored and shown; an equal
    // one changes nothing, not even the text.
    void SetValue(const TValue& value);
    // The value as text; the display picture plays no part.
    std::string TextValue() const;
    // The text converted to the kind of the current value, then SetValue.
    void SetTextValue(const std::string& text);

    // Most characters the user may type or paste into the focused field; 0 for
    // no limit. Texts shown by FormatValue, and texts set while the field has
    // no focus, are never cut.
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int length);

    virtual void FormatValue() {}
    virtual void ParseValue() {}

protected:
    // Stores without comparing and without showing.
    void AssignValue(const TValue& value) { FValue = value; }
    // Shows a text of the program's own, whatever its length.
    void ShowText(const QString& text);

    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    class TLengthLimit;

    std::string FDisplayFormat;
    std::string FMinValue;
    std::string FMaxValue;
    TValue FValue{int32_t{0}};
    int FMaxLength = 0;
    bool FShowingText = false;
};
