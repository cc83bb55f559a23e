// Qt widgets as the settings exchange sees them. Each adapter publishes what
// the control kind it stands for publishes:
//   combo box       ItemIndex, Text, Items
//   check box       Checked
//   radio button    Checked
//   line edit       Text
//   TSpecialEdit    TextValue (no Text)
//   list box        Items (its selection is not published)
//   anything else   none of the five
#pragma once

#include "config/Component.h"

#include <QPointer>

#include <memory>
#include <vector>

class QAbstractButton;
class QObject;

// A component standing for one Qt object, owning further components in the
// order they are added. Publishes nothing itself.
class TQtComponent : public IComponent {
public:
    explicit TQtComponent(QObject* object);

    std::string Name() const override;
    int ComponentCount() const override;
    IComponent& Components(int index) override;
    bool Publishes(std::string_view property) const override;

    // Adds the adapter MakeComponent picks for `object`; returns it.
    TQtComponent& Own(QObject* object);
    QObject* Object() const { return FObject; }

protected:
    // The properties this kind publishes.
    virtual std::vector<std::string_view> Published() const { return {}; }

private:
    QPointer<QObject> FObject;
    std::vector<std::unique_ptr<TQtComponent>> FOwned;
};

// The adapter for the object's kind.
std::unique_ptr<TQtComponent> MakeComponent(QObject* object);

// Checks or unchecks a radio button the way a program does it: checking an
// unchecked one unchecks the others of its group and counts as a click on it
// (clicked is emitted); unchecking leaves the whole group unchecked if it was
// the checked one; a button already in that state is left alone.
void SetRadioChecked(QAbstractButton* button, bool checked);
