#include "ui/NumberEdit.h"

#include "ui/DisplayText.h"
#include "ui/NumberText.h"

#include <QKeyEvent>

TNumberEdit::TNumberEdit(QWidget* parent) : TSpecialEdit(parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    AssignValue(TValue(0.0));
    SetDisplayFormat(",###.00");
}

void TNumberEdit::FormatValue() { ShowText(FromBytes(FormatNumberValue(Value(), DisplayFormat()))); }

void TNumberEdit::ParseValue()
{
    AssignValue(ParseNumberText(ToBytes(text())));
    AssignValue(CheckRange(Value(), MinValue(), MaxValue()));
}

void TNumberEdit::keyPressEvent(QKeyEvent* event)
{
    // Only typed characters are filtered; editing keys and shortcuts (paste
    // among them) keep their usual effect.
    const QString typed = event->text();
    const bool character = event->key() == Qt::Key_Backspace ||
                           (!typed.isEmpty() && typed.at(0).unicode() >= 0x20 && typed.at(0).unicode() != 0x7f &&
                            !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)));
    if (character) {
        const std::size_t length = static_cast<std::size_t>(text().size());
        const char key = event->key() == Qt::Key_Backspace ? '\b'
                         : typed.size() == 1 && typed.at(0).unicode() < 0x80
                             ? static_cast<char>(typed.at(0).unicode())
                             : '\0';
        if (!NumberKeyAccepted(key, length, DisplayFormat())) {
            event->accept();
            return;
        }
    }
    TSpecialEdit::keyPressEvent(event);
}
