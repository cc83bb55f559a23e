#include "config/Component.h"

namespace {

[[noreturn]] void NotPublished(const IComponent& component, std::string_view property)
{
    throw EPropertyError(component.Name() + " does not publish " + std::string(property));
}

}  // namespace

int32_t IComponent::ItemIndex() const { NotPublished(*this, kPropItemIndex); }
void IComponent::SetItemIndex(int32_t) { NotPublished(*this, kPropItemIndex); }
bool IComponent::Checked() const { NotPublished(*this, kPropChecked); }
void IComponent::SetChecked(bool) { NotPublished(*this, kPropChecked); }
std::string IComponent::Text() const { NotPublished(*this, kPropText); }
void IComponent::SetText(const std::string&) { NotPublished(*this, kPropText); }
std::string IComponent::TextValue() const { NotPublished(*this, kPropTextValue); }
void IComponent::SetTextValue(const std::string&) { NotPublished(*this, kPropTextValue); }
std::vector<std::string> IComponent::Items() const { NotPublished(*this, kPropItems); }
void IComponent::SetItems(const std::vector<std::string>&) { NotPublished(*this, kPropItems); }

std::string_view FirstPublishedProperty(const IComponent& component)
{
    for (std::string_view property : kExchangeProperties)
        if (component.Publishes(property)) return property;
    return {};
}
