// How the settings exchange sees a dialog: named components, each owning further
// components in order, each taking part through at most one published property.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A property asked of a component whose class does not publish it.
class EPropertyError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The properties the exchange looks for, in the order it looks for them.
inline constexpr std::string_view kPropItemIndex = "ItemIndex";
inline constexpr std::string_view kPropChecked = "Checked";
inline constexpr std::string_view kPropText = "Text";
inline constexpr std::string_view kPropTextValue = "TextValue";
inline constexpr std::string_view kPropItems = "Items";
inline constexpr std::string_view kExchangeProperties[] = {kPropItemIndex, kPropChecked, kPropText,
                                                           kPropTextValue, kPropItems};

class IComponent {
public:
    virtual ~IComponent() = default;

    virtual std::string Name() const = 0;
    // The components this one owns, in ownership order.
    virtual int ComponentCount() const = 0;
    virtual IComponent& Components(int index) = 0;
    // Whether the component's class publishes a property of that name.
    virtual bool Publishes(std::string_view property) const = 0;

    // The five properties. A class overrides the ones it publishes; the others
    // raise EPropertyError.
    virtual int32_t ItemIndex() const;
    virtual void SetItemIndex(int32_t value);
    virtual bool Checked() const;
    virtual void SetChecked(bool value);
    virtual std::string Text() const;
    virtual void SetText(const std::string& value);
    virtual std::string TextValue() const;
    virtual void SetTextValue(const std::string& value);
    virtual std::vector<std::string> Items() const;
    virtual void SetItems(const std::vector<std::string>& value);
};

// The first of kExchangeProperties the component publishes; empty when none.
std::string_view FirstPublishedProperty(const IComponent& component);
