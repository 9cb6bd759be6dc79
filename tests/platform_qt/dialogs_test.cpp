// Dialogs: the scripted service that tests use, filter strings, and the Qt dialogs offscreen.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform_qt/qt_dialogs.h"
#include "platform_qt/scripted_dialogs.h"

namespace {

qv::ScriptedDialogs::FailureSink testFailure() {
    return [](const std::string& what) { ADD_FAILURE() << what; };
}

// A caller in the manner of the windows: merging two fields asks first (Yes/No, warning, No as
// default) and reports the outcome; refusing tells why.
bool mergeFields(qv::DialogService& dialogs, bool mergeWorks) {
    if (dialogs.messageBox("A field of that name exists.\nMerge the two fields?", "Warning",
                           qv::kBoxYesNo | qv::kBoxIconWarning | qv::kBoxDefaultSecond) !=
        qv::kBoxResultYes)
        return false;
    if (!mergeWorks) {
        dialogs.messageBox("The fields could not be merged.", "Error", qv::kBoxIconError);
        return false;
    }
    return dialogs.messageBox("Merge the values now?", "Merge",
                              qv::kBoxOkCancel | qv::kBoxIconQuestion) == qv::kBoxResultOk;
}

TEST(ScriptedDialogsTest, AnswersAMessageBoxSequence) {
    {
        qv::ScriptedDialogs dialogs(testFailure());
        dialogs.expectMessageBox(qv::kBoxResultYes, 0x134,
                                 "A field of that name exists.\nMerge the two fields?", "Warning");
        dialogs.expectMessageBox(qv::kBoxResultOk, 0x21, "Merge the values now?");
        EXPECT_TRUE(mergeFields(dialogs, true));
        EXPECT_TRUE(dialogs.done());
        ASSERT_EQ(dialogs.shown().size(), 2u);
        EXPECT_EQ(dialogs.shown()[1].caption, "Merge");
    }
    {
        qv::ScriptedDialogs dialogs(testFailure());
        dialogs.expectMessageBox(qv::kBoxResultYes, 0x134);
        dialogs.expectMessageBox(qv::kBoxResultOk, qv::kBoxIconError,
                                 "The fields could not be merged.", "Error");
        EXPECT_FALSE(mergeFields(dialogs, false));
    }
    {
        qv::ScriptedDialogs dialogs(testFailure());
        dialogs.expectMessageBox(qv::kBoxResultNo, 0x134);
        EXPECT_FALSE(mergeFields(dialogs, true));
    }
}

TEST(ScriptedDialogsTest, AnUnexpectedDialogFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            qv::ScriptedDialogs dialogs(testFailure());
            dialogs.expectMessageBox(qv::kBoxResultYes, 0x134);
            EXPECT_FALSE(mergeFields(dialogs, true));  // the box not in the script: Cancel
        },
        "unexpected message box \"Merge\": \"Merge the values now?\"");
    EXPECT_NONFATAL_FAILURE(
        {
            qv::ScriptedDialogs dialogs(testFailure());
            dialogs.expectMessageBox(qv::kBoxResultYes, qv::kBoxYesNo | qv::kBoxIconWarning);
            EXPECT_FALSE(mergeFields(dialogs, true));  // answered No, as when dismissed
        },
        "expected flags 52");
    EXPECT_NONFATAL_FAILURE(
        {
            qv::ScriptedDialogs dialogs(testFailure());
            dialogs.expectSaveFile("/tmp/x.ztz");
            EXPECT_FALSE(mergeFields(dialogs, true));
        },
        "expected a save-file chooser");
    EXPECT_NONFATAL_FAILURE(
        {
            qv::ScriptedDialogs dialogs(testFailure());
            dialogs.expectMessageBox(qv::kBoxResultOk, qv::kBoxIconError, "Disk full");
        },
        "expected message box never came: \"Disk full\"");
    EXPECT_NONFATAL_FAILURE(
        {
            qv::ScriptedDialogs dialogs(testFailure());
            dialogs.expectMessageBox(qv::kBoxResultYes, qv::kBoxOkCancel);
            dialogs.messageBox("?", "", qv::kBoxOkCancel);
        },
        "has no such button");
}

TEST(ScriptedDialogsTest, ChoosersAndPromptsAnswerFromTheScript) {
    qv::ScriptedDialogs dialogs(testFailure());
    dialogs.expectOpenFiles({"/d/a.zt", "/d/b.dbf"}, 2);
    dialogs.expectSaveFile(std::nullopt);
    dialogs.expectFont(qv::StoredFont{"DejaVu Serif", 12, qv::kFontBold});
    dialogs.expectColor(0x800000);
    dialogs.expectPrompt("Second name", "Rename");

    qv::FileChooser open;
    open.title = "Open";
    open.filter = "Quorvane files (*.zt)|*.zt|All files (*.*)|*.*";
    EXPECT_EQ(dialogs.openFiles(open), (std::vector<std::string>{"/d/a.zt", "/d/b.dbf"}));
    EXPECT_EQ(open.filterIndex, 2);
    qv::FileChooser save;
    save.title = "Backup To";
    EXPECT_EQ(dialogs.saveFile(save), std::nullopt);
    EXPECT_EQ(dialogs.chooseFont({"MS Sans Serif", 8, 0}),
              (qv::StoredFont{"DejaVu Serif", 12, qv::kFontBold}));
    EXPECT_EQ(dialogs.chooseColor(0xFF0000), 0x800000u);
    EXPECT_EQ(dialogs.promptText("Rename", "Name:", "First"), "Second name");
    EXPECT_TRUE(dialogs.done());
    EXPECT_EQ(dialogs.shown()[0].chooser.filter, open.filter);
    EXPECT_EQ(dialogs.shown()[2].font.name, "MS Sans Serif");
    EXPECT_EQ(dialogs.shown()[3].color, 0xFF0000u);
}

TEST(FileFilterTest, FilterStringsBecomeLinuxFilters) {
    using F = qv::FileFilter;
    struct Case {
        const char* filter;
        std::vector<F> expected;
    } cases[] = {
        {"Quorvane files (*.zt)|*.zt|All files (*.*)|*.*",
         {{"Quorvane files (*.zt)", {"*.zt", "*.ZT"}}, {"All files (*.*)", {"*"}}}},
        {"Text files (*.txt; *.asc; *.csv)|*.txt; *.asc;*.csv",
         {{"Text files (*.txt; *.asc; *.csv)",
           {"*.txt", "*.TXT", "*.asc", "*.ASC", "*.csv", "*.CSV"}}}},
        {"Mixed|*.Zt;*.ZT", {{"Mixed", {"*.Zt", "*.zt", "*.ZT"}}}},
        // An odd number of parts: the last description gets every file.
        {"Databases|*.zt|Everything", {{"Databases", {"*.zt", "*.ZT"}}, {"Everything", {"*"}}}},
        {"Databases|*.zt|", {{"Databases", {"*.zt", "*.ZT"}}}},
        {"Only a description", {{"Only a description", {"*"}}}},
        {"|*.dbf", {{"*.dbf", {"*.dbf", "*.DBF"}}}},
        {"Empty patterns| ; ;", {{"Empty patterns", {"*"}}}},
        {"", {{"All files", {"*"}}}},
        {"||||", {{"All files", {"*"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(qv::parseFileFilter(c.filter), c.expected);
    }
    EXPECT_EQ(qv::QtDialogs::nameFilters("Quorvane files (*.zt)|*.zt|Backups|*.ztz"),
              (QStringList{"Quorvane files (*.zt) (*.zt *.ZT)", "Backups (*.ztz *.ZTZ)"}));
}

// Runs act on the modal dialog once it shows; a dialog still open after a while is closed so
// that a wrong expectation fails the test instead of hanging it.
template <class Dialog>
void whenShown(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no dialog of the expected kind";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                other->reject();
            return;
        }
        act(dialog);
        QTimer::singleShot(5000, dialog, [dialog] {
            ADD_FAILURE() << "dialog still open";
            dialog->reject();
        });
    });
}

TEST(QtDialogsTest, MessageBoxesFollowTheirFlags) {
    struct Case {
        unsigned flags;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton byDefault;
        int enter, escape;  // answers
    } cases[] = {
        {0x0, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, 1, 1},
        {0x10, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, 1, 1},
        {0x30, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, 1, 1},
        {0x40, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, 1, 1},
        {0x31, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, 1, 2},
        {0x121, QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel,
         2, 2},
        {0x24, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, 6, 7},
        {0x134, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, 7, 7},
    };
    qv::QtDialogs dialogs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            bool checked = false;
            whenShown<QMessageBox>([&](QMessageBox* box) {
                EXPECT_EQ(box->icon(), c.icon);
                EXPECT_EQ(box->standardButtons(), c.buttons);
                EXPECT_EQ(box->defaultButton(), box->button(c.byDefault));
                EXPECT_EQ(box->textFormat(), Qt::PlainText);
                EXPECT_EQ(box->text(), "<b>Path</b>\nline two");
                EXPECT_EQ(box->windowTitle(), "Caption");
                checked = true;
                QTest::keyClick(box, key);
            });
            const int answer = dialogs.messageBox("<b>Path</b>\nline two", "Caption", c.flags);
            EXPECT_TRUE(checked);
            EXPECT_EQ(answer, key == Qt::Key_Return ? c.enter : c.escape);
        }
    }
}

TEST(QtDialogsTest, SaveChooserStartsOnTheFilterAskedAndAddsTheExtension) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile existing(dir.filePath("kept.ztz"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    qv::QtDialogs dialogs;
    struct Case {
        const char* typed;
        const char* expected;
    } cases[] = {{"backup", "backup.ztz"}, {"kept.ztz", "kept.ztz"}};  // no overwrite question
    for (const Case& c : cases) {
        qv::FileChooser chooser;
        chooser.title = "Backup To";
        chooser.filter = "Text files (*.txt)|*.txt|DBF files (*.dbf)|*.dbf|All files (*.*)|*.*";
        chooser.filterIndex = 2;
        chooser.path = dir.path().toStdString();
        chooser.defaultExtension = "ztz";
        whenShown<QFileDialog>([&](QFileDialog* d) {
            EXPECT_EQ(d->windowTitle(), "Backup To");
            EXPECT_EQ(d->selectedNameFilter(), "DBF files (*.dbf)");
            d->selectNameFilter("All files (*.*) (*)");
            d->selectFile(c.typed);
            static_cast<QDialog*>(d)->accept();
        });
        const auto chosen = dialogs.saveFile(chooser);
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(*chosen, dir.filePath(c.expected).toStdString());
        EXPECT_EQ(chooser.filterIndex, 3);
    }
}

TEST(QtDialogsTest, ChoosersGiveBackWhatWasAccepted) {
    qv::QtDialogs dialogs;
    whenShown<QColorDialog>([](QColorDialog* d) {
        EXPECT_FALSE(d->testOption(QColorDialog::ShowAlphaChannel));
        d->accept();
    });
    EXPECT_EQ(dialogs.chooseColor(0x800000), 0x800000u);
    whenShown<QColorDialog>([](QColorDialog* d) { d->reject(); });
    EXPECT_EQ(dialogs.chooseColor(0x800000), std::nullopt);

    const qv::StoredFont font{"DejaVu Serif", 12, qv::kFontBold | qv::kFontItalic};
    whenShown<QFontDialog>([](QFontDialog* d) { d->accept(); });
    EXPECT_EQ(dialogs.chooseFont(font), font);

    whenShown<QInputDialog>([](QInputDialog* d) {
        EXPECT_EQ(d->labelText(), "Name:");
        EXPECT_EQ(d->textValue(), "Old");
        d->setTextValue("Zoë");
        d->accept();
    });
    EXPECT_EQ(dialogs.promptText("Rename", "Name:", "Old"), "Zoë");
    whenShown<QInputDialog>([](QInputDialog* d) { d->reject(); });
    EXPECT_EQ(dialogs.promptText("Rename", "Name:", "Old"), std::nullopt);
}

}  // namespace
