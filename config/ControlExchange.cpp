#include "config/ControlExchange.h"

#include "config/CommaText.h"

namespace {

void PutValue(TOptions& options, int index, IComponent& control, std::string_view property)
{
    if (property == kPropItemIndex) control.SetItemIndex(options.GetAsInteger(index));
    else if (property == kPropChecked) control.SetChecked(options.GetAsBoolean(index));
    else if (property == kPropText) control.SetText(options.GetAsText(index));
    else if (property == kPropTextValue) control.SetTextValue(options.GetAsText(index));
    else if (property == kPropItems) control.SetItems(SplitCommaText(options.GetAsText(index)));
}

void TakeValue(TOptions& options, int index, const IComponent& control, std::string_view property)
{
    if (property == kPropItemIndex) options.SetAsInteger(index, control.ItemIndex());
    else if (property == kPropChecked) options.SetAsBoolean(index, control.Checked());
    else if (property == kPropText) options.SetAsText(index, control.Text());
    else if (property == kPropTextValue) options.SetAsText(index, control.TextValue());
    else if (property == kPropItems) options.SetAsText(index, JoinCommaText(control.Items()));
}

template <typename Step>
void Walk(TOptions& options, IComponent& owner, Step step)
{
    for (int i = 0; i < owner.ComponentCount(); ++i) {
        IComponent& control = owner.Components(i);
        const int index = options.IndexOfOption(control.Name());
        if (index >= 0) {
            const std::string_view property = FirstPublishedProperty(control);
            if (!property.empty()) step(options, index, control, property);
        }
        Walk(options, control, step);
    }
}

}  // namespace

void ApplyToControls(TOptions& options, IComponent& owner) { Walk(options, owner, PutValue); }

void ReadFromControls(TOptions& options, IComponent& owner) { Walk(options, owner, TakeValue); }
