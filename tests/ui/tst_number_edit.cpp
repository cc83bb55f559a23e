// The number field as a widget: when the value follows the text and the text
// the value, which keys reach it, and the length limit.
#include "ui/NumberEdit.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

class TestNumberEdit : public QObject {
    Q_OBJECT

private:
    QWidget FWindow;
    TNumberEdit* FField = nullptr;
    QLineEdit* FOther = nullptr;

    // A field set up like the options dialog's, plus a second field to move
    // the focus to.
    void MakeDialogField()
    {
        delete FField;
        delete FOther;
        FField = new TNumberEdit(&FWindow);
        FField->SetDisplayFormat("#####");
        FField->SetMinValue("0");
        FField->SetMaxValue("99999");
        FField->SetTextValue("0");
        FField->SetMaxLength(5);
        FOther = new QLineEdit(&FWindow);
        FOther->move(0, 40);
        FField->show();
        FOther->show();
        FWindow.show();
        FWindow.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&FWindow));
        FField->setFocus();
        QTRY_VERIFY(FField->hasFocus());
    }

private slots:
    void init() { MakeDialogField(); }

    void newFieldShowsItsZeroThroughTheDefaultPicture()
    {
        TNumberEdit field;
        QCOMPARE(field.text(), QStringLiteral(".00"));
        QCOMPARE(field.TextValue(), std::string("0"));
        QVERIFY(field.alignment() & Qt::AlignRight);
        QCOMPARE(field.size(), QSize(100, 25));
    }

    void dialogFieldShowsNothingForZero()
    {
        QCOMPARE(FField->text(), QString());
        QCOMPARE(FField->TextValue(), std::string("0"));
    }

    void leavingTheFieldParsesThenFormats_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("textValue");
        QTest::newRow("thousands suffix") << "5M" << "5000" << "5000";
        QTest::newRow("fraction shown rounded") << "389.6" << "390" << "389.6";
        QTest::newRow("above maximum") << "120000" << "" << "0";
    }
    void leavingTheFieldParsesThenFormats()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, textValue);
        FOther->setFocus();
        QTRY_VERIFY(FOther->hasFocus());
        FField->setText(text);  // set by program: neither filtered nor cut
        FField->setFocus();
        QTRY_VERIFY(FField->hasFocus());
        QCOMPARE(FField->TextValue(), std::string("0"));  // stale until the field is left
        FOther->setFocus();
        QTRY_VERIFY(FOther->hasFocus());
        QCOMPARE(FField->text(), shown);
        QCOMPARE(QString::fromStdString(FField->TextValue()), textValue);
    }

    void specialKeysParseWithoutLeaving_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
        QTest::newRow("Up") << int(Qt::Key_Up);
        QTest::newRow("Left") << int(Qt::Key_Left);
    }
    void specialKeysParseWithoutLeaving()
    {
        QFETCH(int, key);
        FField->setText(QStringLiteral("3C"));
        QTest::keyClick(FField, Qt::Key(key));
        QVERIFY(FField->hasFocus());
        QCOMPARE(FField->text(), QStringLiteral("300"));
        QCOMPARE(FField->TextValue(), std::string("300"));
    }

    void typedCharactersAreFiltered()
    {
        QTest::keyClicks(FField, QStringLiteral("-1a M,.2 c345"));
        QCOMPARE(FField->text(), QStringLiteral("-1.23"));
    }

    void fullFieldRefusesDigitsEvenWithAllSelectedButTakesBackspace()
    {
        FField->SetTextValue("12345");
        QCOMPARE(FField->text(), QStringLiteral("12345"));
        FOther->setFocus();
        FField->setFocus();  // gaining the focus selects the whole text
        QTRY_VERIFY(FField->hasFocus());
        QCOMPARE(FField->selectedText(), QStringLiteral("12345"));
        QTest::keyClick(FField, Qt::Key_9);
        QCOMPARE(FField->text(), QStringLiteral("12345"));
        QTest::keyClick(FField, Qt::Key_Backspace);
        QCOMPARE(FField->text(), QString());
        QTest::keyClicks(FField, QStringLiteral("42"));
        QCOMPARE(FField->text(), QStringLiteral("42"));
    }

    void pastedTextIsCutToTheLengthLimit()
    {
        FField->SetDisplayFormat("");
        FField->setText(QStringLiteral("1"));
        FField->setCursorPosition(0);
        FField->insert(QStringLiteral("98765"));  // goes through the limit like a paste
        QCOMPARE(FField->text(), QStringLiteral("98761"));
        FOther->setFocus();
        QTRY_VERIFY(FOther->hasFocus());
        FField->setText(QStringLiteral("1234567"));  // set by program while not focused
        QCOMPARE(FField->text(), QStringLiteral("1234567"));
    }

    void writingTextValueShowsOnlyAChangedValue()
    {
        FField->SetTextValue("389");
        QCOMPARE(FField->text(), QStringLiteral("389"));
        FField->SetTextValue("0");
        QCOMPARE(FField->text(), QString());
        FField->setText(QStringLiteral("77"));
        FField->SetTextValue("0");  // equal value: the text stays as it was
        QCOMPARE(FField->text(), QStringLiteral("77"));
        FField->SetTextValue("5M");  // no suffixes on this path
        QCOMPARE(FField->text(), QStringLiteral("77"));
    }

    void changingThePictureReformats()
    {
        FField->SetTextValue("1234.5");
        QCOMPARE(FField->text(), QStringLiteral("1235"));
        FField->SetDisplayFormat(",###.00");
        QCOMPARE(FField->text(), QStringLiteral("1,234.50"));
    }
};

QTEST_MAIN(TestNumberEdit)
#include "tst_number_edit.moc"
