// Qt widgets as the settings exchange sees them: what each kind publishes,
// and radio buttons set by program.
#include "config/ControlExchange.h"
#include "config/VESKAOptions.h"
#include "ui/ControlAdapters.h"
#include "ui/NumberEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestControlAdapters : public QObject {
    Q_OBJECT

private slots:
    void eachKindTakesPartThroughItsProperty_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("property");
        QTest::newRow("combo box") << "QComboBox" << "ItemIndex";
        QTest::newRow("check box") << "QCheckBox" << "Checked";
        QTest::newRow("radio button") << "QRadioButton" << "Checked";
        QTest::newRow("line edit") << "QLineEdit" << "Text";
        QTest::newRow("number edit") << "TNumberEdit" << "TextValue";
        QTest::newRow("list box") << "QListWidget" << "Items";
        QTest::newRow("label") << "QLabel" << "";
        QTest::newRow("group box") << "QGroupBox" << "";
        QTest::newRow("push button") << "QPushButton" << "";
    }
    void eachKindTakesPartThroughItsProperty()
    {
        QFETCH(QString, kind);
        QFETCH(QString, property);
        std::unique_ptr<QWidget> widget;
        if (kind == "QComboBox") widget = std::make_unique<QComboBox>();
        else if (kind == "QCheckBox") widget = std::make_unique<QCheckBox>();
        else if (kind == "QRadioButton") widget = std::make_unique<QRadioButton>();
        else if (kind == "QLineEdit") widget = std::make_unique<QLineEdit>();
        else if (kind == "TNumberEdit") widget = std::make_unique<TNumberEdit>();
        else if (kind == "QListWidget") widget = std::make_unique<QListWidget>();
        else if (kind == "QLabel") widget = std::make_unique<QLabel>();
        else if (kind == "QGroupBox") widget = std::make_unique<QGroupBox>();
        else widget = std::make_unique<QPushButton>();
        const std::unique_ptr<TQtComponent> component = MakeComponent(widget.get());
        QCOMPARE(QString::fromStdString(std::string(FirstPublishedProperty(*component))), property);
    }

    void numberEditPublishesNoText()
    {
        TNumberEdit field;
        const std::unique_ptr<TQtComponent> component = MakeComponent(&field);
        QVERIFY(component->Publishes("TextValue"));
        QVERIFY(!component->Publishes("Text"));
    }

    void comboBoxIndexOutsideItsItemsChoosesNothing()
    {
        QComboBox box;
        box.addItems({"a", "b", "c"});
        const std::unique_ptr<TQtComponent> component = MakeComponent(&box);
        component->SetItemIndex(7);
        QCOMPARE(box.currentIndex(), -1);
        QCOMPARE(component->ItemIndex(), -1);
        component->SetItemIndex(2);
        QCOMPARE(box.currentText(), QStringLiteral("c"));
    }

    void listBoxItemsAreReplacedWithoutASelectionSignal()
    {
        QListWidget list;
        list.addItem("old");
        list.setCurrentRow(0);
        QSignalSpy selection(&list, &QListWidget::itemSelectionChanged);
        const std::unique_ptr<TQtComponent> component = MakeComponent(&list);
        component->SetItems({"10.0.0.1", "\xe9t\xe9"});
        QCOMPARE(selection.count(), 0);
        QCOMPARE(list.item(1)->text(), QString::fromLatin1("\xe9t\xe9"));
        QCOMPARE(component->Items(), (std::vector<std::string>{"10.0.0.1", "\xe9t\xe9"}));
    }

    void checkingARadioButtonByProgramCountsAsAClick()
    {
        QGroupBox group;
        auto* first = new QRadioButton("first", &group);
        auto* second = new QRadioButton("second", &group);
        QSignalSpy firstClicks(first, &QRadioButton::clicked);
        QSignalSpy secondClicks(second, &QRadioButton::clicked);

        SetRadioChecked(first, true);
        QVERIFY(first->isChecked());
        QCOMPARE(firstClicks.count(), 1);

        SetRadioChecked(first, true);  // already checked: no click
        QCOMPARE(firstClicks.count(), 1);

        SetRadioChecked(second, true);  // the other of the group is unchecked
        QVERIFY(!first->isChecked());
        QVERIFY(second->isChecked());
        QCOMPARE(secondClicks.count(), 1);

        SetRadioChecked(first, false);  // unchecking runs nothing
        SetRadioChecked(second, false);
        QVERIFY(!first->isChecked());
        QVERIFY(!second->isChecked());
        QCOMPARE(firstClicks.count() + secondClicks.count(), 2);

        // The group still behaves as one afterwards.
        first->click();
        second->click();
        QVERIFY(!first->isChecked());
        QVERIFY(second->isChecked());
    }

    void storedPairDecidesWhichRadioButtonEndsChecked_data()
    {
        QTest::addColumn<bool>("bindAll");
        QTest::addColumn<bool>("bindSelected");
        QTest::addColumn<bool>("allChecked");
        QTest::addColumn<bool>("selectedChecked");
        QTest::newRow("first true") << true << false << true << false;
        QTest::newRow("second true") << false << true << false << true;
        QTest::newRow("both true: the later in the walk wins") << true << true << false << true;
        QTest::newRow("both false: none checked") << false << false << false << false;
    }
    void storedPairDecidesWhichRadioButtonEndsChecked()
    {
        QFETCH(bool, bindAll);
        QFETCH(bool, bindSelected);
        QFETCH(bool, allChecked);
        QFETCH(bool, selectedChecked);
        QGroupBox group;
        auto* all = new QRadioButton(&group);
        all->setObjectName("BindAll");
        auto* selected = new QRadioButton(&group);
        selected->setObjectName("bindselected");
        all->setChecked(true);  // a state left from before
        TQtComponent form(&group);
        form.Own(all);
        form.Own(selected);
        TVESKAOptions options;
        options.SetValue("BindAll", TValue(bindAll));
        options.SetValue("BindSelected", TValue(bindSelected));

        ApplyToControls(options, form);

        QCOMPARE(all->isChecked(), allChecked);
        QCOMPARE(selected->isChecked(), selectedChecked);
    }
};

QTEST_MAIN(TestControlAdapters)
#include "tst_control_adapters.moc"
