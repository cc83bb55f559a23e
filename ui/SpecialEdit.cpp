#include "ui/SpecialEdit.h"

#include "ui/EditValue.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QValidator>

// Cuts what the user typed or pasted so the text stays within the limit, the
// way a length-limited edit control does: the inserted characters (those just
// before the cursor) give way, not the text that was there.
class TSpecialEdit::TLengthLimit : public QValidator {
public:
    explicit TLengthLimit(TSpecialEdit* edit) : QValidator(edit), FEdit(edit) {}

    State validate(QString& input, int& pos) const override
    {
        const int limit = FEdit->FMaxLength;
        if (limit <= 0 || input.size() <= limit || FEdit->FShowingText || !FEdit->hasFocus()) return Acceptable;
        const qsizetype excess = input.size() - limit;
        const qsizetype fromInsert = std::min<qsizetype>(excess, pos);
        input.remove(pos - fromInsert, fromInsert);
        pos -= static_cast<int>(fromInsert);
        if (input.size() > limit) input.truncate(limit);
        pos = std::min(pos, static_cast<int>(input.size()));
        return Acceptable;
    }

private:
    const TSpecialEdit* FEdit;
};

namespace {

bool IsCommitKey(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Cancel:
    case Qt::Key_Execute:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: return true;
    default: return false;
    }
}

}  // namespace

TSpecialEdit::TSpecialEdit(QWidget* parent) : QLineEdit(parent)
{
    resize(100, 25);
    setValidator(new TLengthLimit(this));
}

void TSpecialEdit::SetDisplayFormat(const std::string& format)
{
    if (format == FDisplayFormat) return;
    FDisplayFormat = format;
    FormatValue();
}

void TSpecialEdit::SetValue(const TValue& value)
{
    if (SameValue(FValue, value)) return;
    FValue = value;
    FormatValue();
}

std::string TSpecialEdit::TextValue() const { return ValueToText(FValue); }

void TSpecialEdit::SetTextValue(const std::string& text) { SetValue(TextToValueOfKind(FValue, text)); }

void TSpecialEdit::ShowText(const QString& text)
{
    FShowingText = true;
    setText(text);
    FShowingText = false;
}

void TSpecialEdit::SetMaxLength(int length) { FMaxLength = length < 0 ? 0 : length; }

bool TSpecialEdit::event(QEvent* event)
{
    // The key keeps its usual effect (focus moves on, the dialog sees it).
    if (event->type() == QEvent::KeyPress && IsCommitKey(static_cast<QKeyEvent*>(event)->key())) {
        ParseValue();
        FormatValue();
    }
    return QLineEdit::event(event);
}

void TSpecialEdit::focusInEvent(QFocusEvent* event)
{
    selectAll();
    QLineEdit::focusInEvent(event);
}

void TSpecialEdit::focusOutEvent(QFocusEvent* event)
{
    ParseValue();
    FormatValue();
    QLineEdit::focusOutEvent(event);
}
