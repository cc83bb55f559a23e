#include "ui/ControlAdapters.h"

#include "ui/DisplayText.h"
#include "ui/SpecialEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>

#include <algorithm>

namespace {

template <typename Widget>
Widget* As(const TQtComponent& component)
{
    auto* widget = qobject_cast<Widget*>(component.Object());
    if (widget == nullptr) throw EPropertyError(component.Name() + " no longer exists");
    return widget;
}

QStringList ToStringList(const std::vector<std::string>& items)
{
    QStringList list;
    for (const std::string& item : items) list << FromBytes(item);
    return list;
}

// Where a control keeps the bytes it was filled with, so that a text nobody
// edited goes back unchanged even when it was not UTF-8.
constexpr char kShownBytes[] = "veskaShownBytes";
constexpr int kItemBytesRole = Qt::UserRole + 1;

std::string StoredBytes(const QVariant& value)
{
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray AsByteArray(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

class TComboBoxComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    int32_t ItemIndex() const override { return As<QComboBox>(*this)->currentIndex(); }
    void SetItemIndex(int32_t value) override
    {
        auto* box = As<QComboBox>(*this);
        box->setCurrentIndex(value >= 0 && value < box->count() ? value : -1);
    }
    std::string Text() const override { return ToBytes(As<QComboBox>(*this)->currentText()); }
    void SetText(const std::string& value) override
    {
        auto* box = As<QComboBox>(*this);
        if (box->isEditable()) box->setEditText(FromBytes(value));
        else box->setCurrentIndex(box->findText(FromBytes(value), Qt::MatchFixedString));
    }
    std::vector<std::string> Items() const override
    {
        auto* box = As<QComboBox>(*this);
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i) items.push_back(ToBytes(box->itemText(i)));
        return items;
    }
    void SetItems(const std::vector<std::string>& value) override
    {
        auto* box = As<QComboBox>(*this);
        box->clear();
        box->addItems(ToStringList(value));
    }

protected:
    std::vector<std::string_view> Published() const override { return {kPropItemIndex, kPropText, kPropItems}; }
};

class TCheckBoxComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    bool Checked() const override { return As<QCheckBox>(*this)->isChecked(); }
    void SetChecked(bool value) override { As<QCheckBox>(*this)->setChecked(value); }

protected:
    std::vector<std::string_view> Published() const override { return {kPropChecked}; }
};

class TRadioButtonComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    bool Checked() const override { return As<QRadioButton>(*this)->isChecked(); }
    void SetChecked(bool value) override { SetRadioChecked(As<QRadioButton>(*this), value); }

protected:
    std::vector<std::string_view> Published() const override { return {kPropChecked}; }
};

class TLineEditComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    std::string Text() const override
    {
        auto* edit = As<QLineEdit>(*this);
        return BytesBehind(edit->text(), StoredBytes(edit->property(kShownBytes)));
    }
    void SetText(const std::string& value) override
    {
        auto* edit = As<QLineEdit>(*this);
        edit->setProperty(kShownBytes, AsByteArray(value));
        edit->setText(FromBytes(value));
    }

protected:
    std::vector<std::string_view> Published() const override { return {kPropText}; }
};

class TSpecialEditComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    std::string TextValue() const override { return As<TSpecialEdit>(*this)->TextValue(); }
    void SetTextValue(const std::string& value) override { As<TSpecialEdit>(*this)->SetTextValue(value); }

protected:
    std::vector<std::string_view> Published() const override { return {kPropTextValue}; }
};

class TListBoxComponent : public TQtComponent {
public:
    using TQtComponent::TQtComponent;
    std::vector<std::string> Items() const override
    {
        auto* list = As<QListWidget>(*this);
        std::vector<std::string> items;
        for (int i = 0; i < list->count(); ++i) {
            const QListWidgetItem* item = list->item(i);
            items.push_back(BytesBehind(item->text(), StoredBytes(item->data(kItemBytesRole))));
        }
        return items;
    }
    // Replacing the items is no click on the list.
    void SetItems(const std::vector<std::string>& value) override
    {
        auto* list = As<QListWidget>(*this);
        const QSignalBlocker blocker(list);
        list->clear();
        for (const std::string& text : value) {
            auto* item = new QListWidgetItem(FromBytes(text), list);
            item->setData(kItemBytesRole, AsByteArray(text));
        }
    }

protected:
    std::vector<std::string_view> Published() const override { return {kPropItems}; }
};

}  // namespace

TQtComponent::TQtComponent(QObject* object) : FObject(object) {}

std::string TQtComponent::Name() const { return FObject ? ToBytes(FObject->objectName()) : std::string(); }

int TQtComponent::ComponentCount() const { return static_cast<int>(FOwned.size()); }

IComponent& TQtComponent::Components(int index) { return *FOwned.at(static_cast<std::size_t>(index)); }

bool TQtComponent::Publishes(std::string_view property) const
{
    if (!FObject) return false;
    const std::vector<std::string_view> published = Published();
    return std::find(published.begin(), published.end(), property) != published.end();
}

TQtComponent& TQtComponent::Own(QObject* object)
{
    FOwned.push_back(MakeComponent(object));
    return *FOwned.back();
}

std::unique_ptr<TQtComponent> MakeComponent(QObject* object)
{
    // Most derived kinds first: a TSpecialEdit is a QLineEdit that publishes no Text.
    if (qobject_cast<TSpecialEdit*>(object)) return std::make_unique<TSpecialEditComponent>(object);
    if (qobject_cast<QComboBox*>(object)) return std::make_unique<TComboBoxComponent>(object);
    if (qobject_cast<QRadioButton*>(object)) return std::make_unique<TRadioButtonComponent>(object);
    if (qobject_cast<QCheckBox*>(object)) return std::make_unique<TCheckBoxComponent>(object);
    if (qobject_cast<QLineEdit*>(object)) return std::make_unique<TLineEditComponent>(object);
    if (qobject_cast<QListWidget*>(object)) return std::make_unique<TListBoxComponent>(object);
    return std::make_unique<TQtComponent>(object);
}

void SetRadioChecked(QAbstractButton* button, bool checked)
{
    if (button->isChecked() == checked) return;
    if (checked) {
        // An auto-exclusive button unchecks the others itself; setChecked
        // emits no clicked, so the click is reported here.
        button->setChecked(true);
        emit button->clicked(true);
        return;
    }
    // An auto-exclusive group refuses to lose its last checked button.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}
