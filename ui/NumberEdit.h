// The input field for whole-number settings: a value shown through a display
// picture, number keys only, the suffixes C, M and MM, and a value outside
// MinValue..MaxValue reset to 0.
#pragma once

#include "ui/SpecialEdit.h"

class TNumberEdit : public TSpecialEdit {
    Q_OBJECT

public:
    // Right-aligned, picture ",###.00", value 0 (shown as ".00").
    explicit TNumberEdit(QWidget* parent = nullptr);

    // The value written through DisplayFormat.
    void FormatValue() override;
    // The value read from the text (even when equal), then the range reset.
    void ParseValue() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
