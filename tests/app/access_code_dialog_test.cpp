#include "app/qt/access_code_dialog.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "resources/control_ids.h"
#include "tests/app/widget_fixture.h"

namespace {

class AccessCodeDialogTest : public WidgetFixture {
  protected:
    // Opened as the main window opens it: modal, owned by the window.
    void Open() {
        dialog.open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    QLineEdit* Entry() { return qobject_cast<QLineEdit*>(FindControl(dialog, kIdAccessCodeEntry)); }
    QAbstractButton* EnterButton() {
        return qobject_cast<QAbstractButton*>(FindControl(dialog, kIdAccessCodeEnter));
    }

    MainWindow window;
    AccessCodeDialog dialog{&window};
};

enum class Press { kEnterKey, kEnterButton };

struct EntryRow {
    QString typed;
    Press press;
    std::uint16_t granted_before;
    std::uint16_t granted_after;
};

TEST_F(AccessCodeDialogTest, EnterJudgesTheCodeAndEndsWithTheVerdict) {
    const EntryRow rows[] = {
        {QStringLiteral("8163"), Press::kEnterKey, 0, 1},
        {QStringLiteral("8163"), Press::kEnterButton, 0, 1},
        {QStringLiteral("8164"), Press::kEnterKey, 1, 0},
        {QString(), Press::kEnterButton, 1, 0},
    };
    for (const EntryRow& row : rows) {
        SCOPED_TRACE(row.typed.toStdString() +
                     (row.press == Press::kEnterKey ? " key" : " button"));
        AccessGranted = row.granted_before;
        Entry()->clear();
        Open();
        EXPECT_EQ(Entry()->echoMode(), QLineEdit::Password);
        QTest::keyClicks(Entry(), row.typed);
        if (row.press == Press::kEnterKey) {
            QTest::keyClick(Entry(), Qt::Key_Return);
        } else {
            QTest::mouseClick(EnterButton(), Qt::LeftButton);
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), row.granted_after);
        EXPECT_EQ(AccessGranted.load(), row.granted_after);
    }
}

TEST_F(AccessCodeDialogTest, EscapeDoesNothing) {
    AccessGranted = 1;
    Open();
    QTest::keyClicks(Entry(), QStringLiteral("1"));
    QTest::keyClick(Entry(), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(AccessGranted.load(), 1);
    EXPECT_EQ(Entry()->text(), QStringLiteral("1"));
}

TEST_F(AccessCodeDialogTest, TheCloseBoxEndsItWithAccessAsItWas) {
    for (std::uint16_t granted : {0, 1}) {
        SCOPED_TRACE(granted);
        AccessGranted = granted;
        Open();
        QTest::keyClicks(Entry(), QStringLiteral("8163"));
        dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), granted);
        EXPECT_EQ(AccessGranted.load(), granted);
    }
}

}  // namespace
