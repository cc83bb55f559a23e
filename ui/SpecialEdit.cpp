#include "ui/SpecialEdit.h"

#include "ui/EditValue.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QValidator>

namespace {

// Cuts what the user typed or pasted so the text stays within the limit, the
// way a length-limited edit control does: the inserted characters (those just
// before the cursor) give way, not the text that was there.
class TLengthLimit : public QValidator {
public:
    TLengthLimit(const int& limit, QObject* parent) : QValidator(parent), FLimit(limit) {}

    State validate(QString& input, int& pos) const override
    {
        if (FLimit <= 0 || input.size() <= FLimit) return Acceptable;
        const qsizetype excess = input.size() - FLimit;
        const qsizetype fromInsert = std::min<qsizetype>(excess, pos);
        input.remove(pos - fromInsert, fromInsert);
        pos -= static_cast<int>(fromInsert);
        if (input.size() > FLimit) input.truncate(FLimit);
        pos = std::min(pos, static_cast<int>(input.size()));
        return Acceptable;
    }

private:
    const int& FLimit;
};

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
    setValidator(new TLengthLimit(FMaxLength, this));
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
