// The compiled-in layouts: every text, caption and number the windows need, so that no
// window depends on a file of the program folder to open. Texts are the program's own and are
// used exactly as they stand (backslash-n in a text is the two characters; it becomes a line
// break when the line is shown).

#include "platform/layout.h"

namespace qv {

namespace {

// main window
Layout layoutMainForm() {
    Layout layout("MainForm.ztr");
    layout.setLines(
        "memoFrame",
        {
            /* 0 */ "Unknown format.",
            /* 1 */ "Warning",
            /* 2 */ "Info",
            /* 3 */ "Unabled to open the %s. The files are missing or unreadable.",
            /* 4 */ "This file is used by somebody else.",
            /* 5 */ "The destination file already exists.",
            /* 6 */ "The source file doesn't exist.",
            /* 7 */ "Counting",
            /* 8 */ "A background task is in progress. Do you want to stop it?",
            /* 9 */ "Waiting",
            /* 10 */ "The result of the search in the set \"%s\" contains %d records.",
            /* 11 */ "Count result",
            /* 12 */
            "To access the database \"%s\" Quorvane must create an index.\\nIt may require several "
            "minutes. Do you wish to proceed?",
            /* 13 */ "Do you want to remove selected records?",
            /* 14 */ "The clipboard is locked by a copy in progress.",
            /* 15 */ "(No name)",
            /* 16 */
            "\"%s\" is a old version. To access this file, Quorvane must create an index.\\nIt may "
            "require several minutes. Do you wish to proceed?",
            /* 17 */ "\"%s\" is read only. The maintenance cannot be launched.",
            /* 18 */ "%s trash",
            /* 19 */ "Quorvane\\nVersion 6.0.212",
            /* 20 */
            "\"%s\" has not been closed correctly.\\nDo you want to run maintenance? It may "
            "require several minutes.",
            /* 21 */ "This name already exists. Do you want to replace the existing bookmark?",
            /* 22 */ "Warning",
            /* 23 */ "Copy of ",
            /* 24 */
            "Quorvane files (*.zt)|*.zt|All formats (*.zt; *.dbf; *.txt; *.asc; *.csv; "
            "*.ztz)|*.zt;*.dbf; *.txt; *.asc; *.csv; *.ztz|dBASE files (*.dbf)|*.dbf|Text files "
            "(*.txt; *.asc; *.csv)|*.txt; *.asc;*.csv|Backup Quorvane file (*.ztz)|*.ztz|All files "
            "(*.*)|*.*",
            /* 25 */
            "All formats (*.dbf; *.txt; *.asc; *.csv)|*.dbf; *.txt; *.asc; *.csv|dBASE files "
            "(*.dbf)|*.dbf|Text files (*.txt; *.asc; *.csv)|*.txt; *.asc;*.csv|All files (*.*)|*.*",
        });
    return layout;
}

// tree view
Layout layoutTreeView() {
    Layout layout("TreeView.ztr");
    layout.setLines("memo",
                    {
                        /* 0 */ "This database is already open.",
                        /* 1 */ "Do you really want to delete this set?",
                        /* 2 */ "Warning",
                        /* 3 */ "%s trash",
                        /* 4 */ "",
                        /* 5 */ "Trash",
                        /* 6 */ "Click to put the current record in this set or to take it out",
                    });
    return layout;
}

// list view
Layout layoutListview() {
    Layout layout("listview.ztr");
    layout.setLines("meConst", {
                                   /* 0 */ "&Delete record(s)",
                                   /* 1 */ "Restore rec&ord(s)",
                                   /* 2 */ "Search statement for this column",
                                   /* 3 */ "> Search here <",
                                   /* 4 */ "Please use 'Select All' to select many records.",
                                   /* 5 */ "(Search)",
                                   /* 6 */ "Set",
                               });
    layout.setCaption("btnAll.Hint", "Select All");
    layout.setCaption("btnClear.Hint", "Clear search <Esc>");
    layout.setCaption("btnOper.Hint", "Operators");
    layout.setNumber("lgList.DefaultColWidth", 120);
    layout.setNumber("lgList.DefaultRowHeight", 20);
    layout.setNumber("lgList.FixedCols", 0);
    layout.setNumber("lgList.FixedRows", 2);
    layout.setNumber("sbScroll.LargeChange", 10);
    layout.setNumber("tiUpdateScroll.Interval", 500);
    return layout;
}

// record view
Layout layoutRecview() {
    Layout layout("recview.ztr");
    layout.setLines("meConst", {
                                   /* 0 */ "Insert &another %s",
                                   /* 1 */ "(New record)",
                                   /* 2 */ "<none>",
                               });
    layout.setCaption("btnLink.Hint", "Insert link");
    layout.setCaption("btnSave.Hint", "Write now");
    layout.setCaption("btnUndo.Hint", "Undo changes");
    layout.setCaption("title.Caption", "Record");
    layout.setNumber("dgMain.ColWidth0", 95);
    layout.setNumber("dgMain.ColWidth1", 17);
    layout.setNumber("dgMain.ColWidth2", 64);
    layout.setNumber("dgMain.DefaultRowHeight", 17);
    return layout;
}

// record-properties popup
Layout layoutFrmProp() {
    Layout layout("frmProp.ztr");
    layout.setLines("meConst", {
                                   /* 0 */ "Auto Typing",
                                   /* 1 */ "Auto Linking",
                               });
    layout.setCaption("btnLink.Hint", "Link to record");
    layout.setCaption("btnNew.Hint", "New record");
    layout.setCaption("btnType.Hint", "Type");
    layout.setCaption("btnView.Hint", "View record");
    return layout;
}

// status bar
Layout layoutZtstatbr() {
    Layout layout("ztstatbr.ztr");
    layout.setLines("memoStatusBar", {
                                         /* 0 */ "Records: ",
                                         /* 1 */ "Searching",
                                     });
    return layout;
}

// title strip
Layout layoutTitle() {
    Layout layout("title.ztr");
    layout.setCaption("closeButton.Hint", "Close");
    layout.setCaption("fullButton.Hint", "Full size");
    layout.setCaption("reduceButton.Hint", "Reduce");
    return layout;
}

// image button
Layout layoutButton() {
    Layout layout("button.ztr");
    return layout;
}

// toolbar
Layout layoutToolbar() {
    Layout layout("toolbar.ztr");
    layout.setCaption("MNAddBkm.Caption", "&Add bookmark...");
    layout.setCaption("MNRemoveBookmark.Caption", "&Remove bookmark");
    layout.setCaption("MNRenameBookmark.Caption", "Re&name bookmark");
    layout.setCaption("ZTButton1.Hint", "Back");
    layout.setCaption("ZTButton3.Hint", "Forward");
    return layout;
}

// wizard frame
Layout layoutZtWizard() {
    Layout layout("ztWizard.ztr");
    layout.setCaption("btnApply.Caption", "&Apply");
    layout.setCaption("btnCancel.Caption", "Cancel");
    layout.setCaption("btnFinished.Caption", "&Finished");
    layout.setCaption("btnHelp.Caption", "&Help");
    layout.setCaption("btnNext.Caption", "&Next >");
    layout.setCaption("btnOK.Caption", "OK");
    layout.setCaption("btnPrev.Caption", "< &Back");
    return layout;
}

// spin edit
Layout layoutSpinEdit() {
    Layout layout("spinEdit.ztr");
    return layout;
}

// label preview: the six measures when no values are shown
Layout layoutLabelImage() {
    Layout layout("labelImage.ztr");
    layout.setLines("memo", {
                                /* 0 */ "Top margin",
                                /* 1 */ "Side margin",
                                /* 2 */ "Vertical pitch",
                                /* 3 */ "Horizontal pitch",
                                /* 4 */ "Label height",
                                /* 5 */ "Label width",
                            });
    return layout;
}

// label editor: a field token that cannot be read
Layout layoutZtLabelEditor() {
    Layout layout("ztLabelEditor.ztr");
    layout.setLines("memo", {
                                /* 0 */ "Label editor",
                                /* 1 */ "A field token has too many commas.",
                            });
    return layout;
}

// preferences dialog
Layout layoutFrmDlgPrefs() {
    Layout layout("frmDlgPrefs.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "Preferences",
                                 });
    return layout;
}

// maintenance dialog (lines 0 to 3 unused)
Layout layoutFrmDlgMaint() {
    Layout layout("frmDlgMaint.ztr");
    layout.setLines(
        "mmStrings",
        {
            /* 0 */ "properties dialog box",
            /* 1 */ "wizard dialog box",
            /* 2 */ "error message",
            /* 3 */ "An error has occurred.",
            /* 4 */ "Apply to &file \"%s\"",
            /* 5 */ "Maintaining",
            /* 6 */ "Indexing",
            /* 7 */ "Unable to start maintenance on \"%s\".This file is already in use.",
            /* 8 */ "Error",
        });
    return layout;
}

// record deletion: the job's texts
Layout layoutFrmDlgDelRec() {
    Layout layout("frmDlgDelRec.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "Removing",
                                     /* 1 */ "Pasting",
                                     /* 2 */ "Pasting",
                                     /* 3 */ "Restoring ",
                                     /* 4 */ "%s trash",
                                     /* 5 */ "%s restored",
                                 });
    return layout;
}

// set properties
Layout layoutFrmDlgSetPro() {
    Layout layout("frmDlgSetPro.ztr");
    layout.setLines(
        "mmStrings",
        {
            /* 0 */ "Set properties",
            /* 1 */ "Create new set",
            /* 2 */ "New set",
            /* 3 */ "",
            /* 4 */ "A set with the same name already exists.",
            /* 5 */ "Error",
            /* 6 */ "An error has occurred while writing new set.",
            /* 7 */ "Warning",
            /* 8 */
            "The first field of the structure cannot be removed, it has been reinserted in the "
            "structure. If you want to rename it, use field properties.",
            /* 9 */ "Create",
            /* 10 */ "Please enter a valid name for the new set.",
        });
    return layout;
}

// field properties
Layout layoutFrmDlgFieldPro() {
    Layout layout("frmDlgFieldPro.ztr");
    layout.setLines(
        "mmStrings",
        {
            /* 0 */ "Field Properties",
            /* 1 */ "Error",
            /* 2 */
            "This is the name of an existing field. Merging is not allowed on an entire file.",
            /* 3 */ "Warning",
            /* 4 */
            "This is the name of an existing field. If you continue you will merge those two "
            "fields.\\nThis operation is irreversible.\\nDo you want to continue?",
            /* 5 */
            "The new field name is too close to the original.\\nThis change can only be made to "
            "all sets.",
            /* 6 */ "Field renaming",
            /* 7 */ "There is an error in the formula.",
        });
    return layout;
}

// file properties
Layout layoutFrmDlgFilePro() {
    Layout layout("frmDlgFilePro.ztr");
    layout.setLines(
        "mmStrings",
        {
            /* 0 */ "File properties",
            /* 1 */ "Create new file",
            /* 2 */ "New file",
            /* 3 */ "Warning",
            /* 4 */
            "A file with the same name already exists. Please change the name of your new file.",
            /* 5 */ "Error",
            /* 6 */ "An error has occurred while creating file",
            /* 7 */ "Only file name can be changed, not location.",
            /* 8 */ "Create",
        });
    return layout;
}

// formula editor
Layout layoutFrmDlgFmlEditor() {
    Layout layout("frmDlgFmlEditor.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "in field",
                                     /* 1 */ "new field",
                                     /* 2 */ "with text",
                                     /* 3 */ "text",
                                     /* 4 */ "by",
                                     /* 5 */ "entire text",
                                     /* 6 */ "Formula Editor",
                                     /* 7 */ "Replacing values",
                                     /* 8 */ "Removing values",
                                     /* 9 */ "Inserting values",
                                     /* 10 */ "Error",
                                     /* 11 */ "The field does not exist.",
                                     /* 12 */ "by computed field",
                                     /* 13 */ "There is an error in the computed field.",
                                     /* 14 */ "with computed field",
                                 });
    return layout;
}

// import dialog
Layout layoutFrmDlgImport() {
    Layout layout("frmDlgImport.ztr");
    layout.setLines("mmStrings",
                    {
                        /* 0 */ "Importation",
                        /* 1 */ "%s imported",
                        /* 2 */ "Error",
                        /* 3 */ "This file type is not supported.",
                        /* 4 */ "Clipboard",
                        /* 5 */ "Importing %s",
                        /* 6 */ "Field #%02d",
                        /* 7 */ "Import in file %s ",
                        /* 8 */ " (external)",
                        /* 9 */ "Clipboard is empty.",
                        /* 10 */ "Field name cannot be empty.",
                        /* 11 */ "Choose an existing set or create a new set.",
                        /* 12 */ "Warning",
                        /* 13 */ "Importation needs at least one opened Quorvane database.",
                        /* 14 */
                        "Importation needs at least one opened Quorvane database with required "
                        "accesses (permission to write).",
                        /* 15 */ "Import",
                        /* 16 */ "No table to import in this source.",
                        /* 17 */ "Please enter a valid name for the new set.",
                    });
    return layout;
}

// export dialog
Layout layoutFrmDlgExport() {
    Layout layout("frmDlgExport.ztr");
    layout.setLines("mmStrings",
                    {
                        /* 0 */ "Export from %s",
                        /* 1 */ "Exporting %s",
                        /* 2 */ "Copying records",
                        /* 3 */ "Warning",
                        /* 4 */ "Destination file already exists. Do you want to overwrite it ?",
                        /* 5 */ "Cutting records",
                        /* 6 */ "Export",
                        /* 7 */
                        "A table with the same name already exists in this ODBC source.\\nYou must "
                        "export in a new table.",
                        /* 8 */ "No record to export.",
                        /* 9 */ "No ODBC source selected.",
                    });
    return layout;
}

// backup and restore
Layout layoutFrmDlgBackup() {
    Layout layout("frmDlgBackup.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "Backing up",
                                     /* 1 */ "Restoring",
                                     /* 2 */ "Backup of ",
                                     /* 3 */ "Auto-backup of ",
                                     /* 4 */ "Replace the existing file %s?",
                                     /* 5 */ "Quorvane Backup|*.ztz",
                                     /* 6 */ "Quorvane File|*.zt",
                                     /* 7 */ "Backup",
                                     /* 8 */ "Restore",
                                     /* 9 */ "Backup to file:",
                                     /* 10 */ "Restore to file:",
                                 });
    return layout;
}

// print dialog (lines 0, 1 and 9 hold backslash-t and -r too)
Layout layoutFrmDlgPrinter() {
    Layout layout("frmDlgPrinter.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "Width :\\t%2.2f\"\\rHeight :\\t%2.2f\"",
                                     /* 1 */ "Width :\\t%2.2fcm\\rHeight :\\t%2.2f cm",
                                     /* 2 */ "(default)",
                                     /* 3 */ "Warning",
                                     /* 4 */ "You must enter a name",
                                     /* 5 */ "New label format",
                                     /* 6 */ "Do you really want to delete this label format?",
                                     /* 7 */ "Please select fields to print.",
                                     /* 8 */ "Printing",
                                     /* 9 */
                                     "There are too many labels for the size of page.\\nPress OK "
                                     "to accept this format anyway or press Cancel to correct.",
                                     /* 10 */ "Print",
                                     /* 11 */ "There is no printer installed.",
                                     /* 12 */ "The printer is currently printing.",
                                 });
    return layout;
}

// functions dialog: for each function its name, its description ($b and $0 around bold parts), its
// parameters; lines 72 and 83 are messages
Layout layoutFrmDlgFunctions() {
    Layout layout("frmDlgFunctions.ztr");
    layout.setLines(
        "mmStrings",
        {
            /* 0 */ "len",
            /* 1 */ "len($btext$0)\\n\\nReturn the number of characters in a text string.",
            /* 2 */ "text",
            /* 3 */ "find",
            /* 4 */
            "find($bfind_text$0, $bwithin_text$0)\\n\\nFinds one text string ($bfind_text$0) "
            "within another text string ($bwithin_text$0), and returns the number of the starting "
            "position of $bfind_text$0, from the leftmost character of $bwithin_text$0.",
            /* 5 */ "find_text",
            /* 6 */ "within_text",
            /* 7 */ "upper",
            /* 8 */ "upper($btext$0)\\n\\nConverts text to uppercase.",
            /* 9 */ "text",
            /* 10 */ "lower",
            /* 11 */ "lower($btext$0)\\n\\nConverts text to lowercase.",
            /* 12 */ "text",
            /* 13 */ "if",
            /* 14 */
            "if($blogical_test$0, $bvalue_if_true$0, $bvalue_if_false$0)\\n\\nReturns one value if "
            "condition $blogical_test$0 evaluates to a value different from 0 (true) and another "
            "value if it evaluates to 0 (false).",
            /* 15 */ "logical_test",
            /* 16 */ "value_if_true",
            /* 17 */ "value_if_false",
            /* 18 */ "=",
            /* 19 */
            "$btext1$0 = $btext2$0\\n\\nReturns 0 (false) if $btext1$0 different from $btext2$0 "
            "otherwise return a value different from 0 (true).",
            /* 20 */ "text1",
            /* 21 */ "text2",
            /* 22 */ "#",
            /* 23 */
            "$btext1$0 # $btext2$0\\n\\nReturns 0 (false) if $btext1$0 equal $btext2$0 otherwise "
            "return a value different from 0 (true).",
            /* 24 */ "text1",
            /* 25 */ "text2",
            /* 26 */ "mid",
            /* 27 */
            "mid($btext$0, $bstart_num$0, $bnum_chars$0)\\n\\nReturns a specific number of "
            "characters from a text string, starting at the position you specify.",
            /* 28 */ "text",
            /* 29 */ "start_num",
            /* 30 */ "num_chars",
            /* 31 */ "+",
            /* 32 */
            "$btext1$0 + $btext2$0\\n\\nAdds two values if both are numeric otherwise joins two "
            "text strings into one text string.",
            /* 33 */ "text1",
            /* 34 */ "text2",
            /* 35 */ "-",
            /* 36 */ "$btext1$0 - $btext2$0\\n\\nSubstracts $bvalue2$0 from $bvalue1$0",
            /* 37 */ "value1",
            /* 38 */ "value2",
            /* 39 */ "autolink",
            /* 40 */
            "autolink($bset_name$0, $bfield_name$0, $bvalue$0)\\n\\nSearches the first record from "
            "set $bset_name$0 for wich the field $bfield_name$0 contains $bvalue$0 and creates a "
            "link onto this record.",
            /* 41 */ "set_name",
            /* 42 */ "field_name",
            /* 43 */ "value",
            /* 44 */ ">",
            /* 45 */
            "$btext1$0 > $btext2$0\\n\\nReturns a value different from 0 (true) if $btext1$0 "
            "greater than $btext2$0 otherwise returns 0 (false).",
            /* 46 */ "text1",
            /* 47 */ "text2",
            /* 48 */ "<",
            /* 49 */
            "$btext1$0 < $btext2$0\\n\\nReturns a value different from 0 (true) if $btext1$0 "
            "smaller than $btext2$0 otherwise returns 0 (false).",
            /* 50 */ "text1",
            /* 51 */ "text2",
            /* 52 */ "<=",
            /* 53 */
            "$btext1$0 <= $btext2$0\\n\\nReturns a value different from 0 (true) if $btext1$0 "
            "smaller or equal than $btext2$0 otherwise returns 0 (false).",
            /* 54 */ "text1",
            /* 55 */ "text2",
            /* 56 */ ">=",
            /* 57 */
            "$btext1$0 >= $btext2$0\\n\\nReturns a value different from 0 (true) if $btext1$0 "
            "greater or equal than $btext2$0 otherwise returns 0 (false).",
            /* 58 */ "text1",
            /* 59 */ "text2",
            /* 60 */ "*",
            /* 61 */ "$btext1$0 *- $btext2$0\\n\\nMultiplies $bvalue1$0 by $bvalue2$0",
            /* 62 */ "value1",
            /* 63 */ "value2",
            /* 64 */ "/",
            /* 65 */ "$btext1$0 / $btext2$0\\n\\nDivides $bvalue1$0 with $bvalue2$0",
            /* 66 */ "value1",
            /* 67 */ "value2",
            /* 68 */ "round",
            /* 69 */
            "round($bvalue$0, $bdigits2$0)\\n\\nRounds a value to a specificied number of digits.",
            /* 70 */ "value",
            /* 71 */ "digits",
            /* 72 */ "No record selected",
            /* 73 */ "concat",
            /* 74 */
            "concat($btext1$0, $btext2$0)\\n\\nJoins two text strings into one text string",
            /* 75 */ "text1",
            /* 76 */ "text2",
            /* 77 */ "field",
            /* 78 */ "field($bname$0)\\n\\nInserts the value of a field.",
            /* 79 */ "name",
            /* 80 */ "clean",
            /* 81 */
            "clean($btext$0)\\n\\nRemoves all non-alphanumeric characters, accents and puts "
            "$btext$0 to lower case.",
            /* 82 */ "text",
            /* 83 */ "ERROR",
        });
    return layout;
}

// macro properties dialog
Layout layoutFrmDlgMacros() {
    Layout layout("frmDlgMacros.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "&Go to",
                                     /* 1 */ "Quorvane macros",
                                     /* 2 */ "&Record new macro ",
                                     /* 3 */ "&Stop recording",
                                     /* 4 */ "More...",
                                     /* 5 */ "&Follow link...",
                                     /* 6 */ "&Return link...",
                                     /* 7 */ "Warning",
                                     /* 8 */ "Do you really want to delete the macro \"%s\"?",
                                     /* 9 */ "The name of the macro cannot be empty.",
                                     /* 10 */ "Error",
                                     /* 11 */ "&Suspend recording",
                                     /* 12 */ "Res&ume recording",
                                     /* 13 */ "Other...",
                                 });
    return layout;
}

// macro prompt window: message and title of each kind
Layout layoutFrmMCMessages() {
    Layout layout("frmMCMessages.ztr");
    layout.setLines(
        "messages",
        {
            /* 0 */ "You are creating a new macro; all keyboard activity will be "
                    "recorded.\\n\\nMouse activity will not be recorded, except on taskbar "
                    "menu.\\n\\nClick on <OK> to start recording, or on <Cancel> to abort.\\n\\nTo "
                    "end recording, click on <stop recording> in the taskbar menu.",
            /* 1 */
            "You are about recording a macro within Quorvane.\\nIt may be wise to do it in your "
            "target application.\\nClick on <Cancel>, switch to your application and click on "
            "<start recording> in the taskbar menu.\\n\\nOtherwise, click on <OK>.",
            /* 2 */ "Hit the keyboard shortcut...",
            /* 3 */
            "The macro \"%s\" is working for you...\\nTo interrupt, left-click or hit <Esc>.",
            /* 4 */ "Quorvane is locating the records. Please wait...",
            /* 5 */ "Do you wish to interrupt...",
            /* 6 */ "Do you really want to stop the macro \"%s\"?",
            /* 7 */ "Quorvane can not open application %s.",
            /* 8 */ "There is a syntax error.",
        });
    layout.setLines("titles", {
                                  /* 0 */ "Record new macro",
                                  /* 1 */ "Recording macro in Quorvane",
                                  /* 2 */ "No title",
                                  /* 3 */ "No title ",
                                  /* 4 */ "No title ",
                                  /* 5 */ "Interrupt",
                                  /* 6 */ "Interrupt macro",
                                  /* 7 */ "Error",
                                  /* 8 */ "Syntax error",
                              });
    return layout;
}

// macro command wizard
Layout layoutFrmDlgMCProp() {
    Layout layout("frmDlgMCProp.ztr");
    layout.setLines("mmStrings", {
                                     /* 0 */ "Field name:",
                                     /* 1 */ "Macro name:",
                                     /* 2 */ "Field to follow:",
                                     /* 3 */ "Exit condition:",
                                     /* 4 */ "Expected key:",
                                     /* 5 */ "Application name:",
                                     /* 6 */ "Text to show:",
                                     /* 7 */ "Delay:",
                                     /* 8 */ "Keyboard break:",
                                 });
    return layout;
}

struct Known {
    const char* fileName;
    Layout (*make)();
};

const Known kKnown[] = {
    {"MainForm.ztr", &layoutMainForm},
    {"TreeView.ztr", &layoutTreeView},
    {"listview.ztr", &layoutListview},
    {"recview.ztr", &layoutRecview},
    {"frmProp.ztr", &layoutFrmProp},
    {"ztstatbr.ztr", &layoutZtstatbr},
    {"title.ztr", &layoutTitle},
    {"button.ztr", &layoutButton},
    {"toolbar.ztr", &layoutToolbar},
    {"ztWizard.ztr", &layoutZtWizard},
    {"spinEdit.ztr", &layoutSpinEdit},
    {"labelImage.ztr", &layoutLabelImage},
    {"ztLabelEditor.ztr", &layoutZtLabelEditor},
    {"frmDlgPrefs.ztr", &layoutFrmDlgPrefs},
    {"frmDlgMaint.ztr", &layoutFrmDlgMaint},
    {"frmDlgDelRec.ztr", &layoutFrmDlgDelRec},
    {"frmDlgSetPro.ztr", &layoutFrmDlgSetPro},
    {"frmDlgFieldPro.ztr", &layoutFrmDlgFieldPro},
    {"frmDlgFilePro.ztr", &layoutFrmDlgFilePro},
    {"frmDlgFmlEditor.ztr", &layoutFrmDlgFmlEditor},
    {"frmDlgImport.ztr", &layoutFrmDlgImport},
    {"frmDlgExport.ztr", &layoutFrmDlgExport},
    {"frmDlgBackup.ztr", &layoutFrmDlgBackup},
    {"frmDlgPrinter.ztr", &layoutFrmDlgPrinter},
    {"frmDlgFunctions.ztr", &layoutFrmDlgFunctions},
    {"frmDlgMacros.ztr", &layoutFrmDlgMacros},
    {"frmMCMessages.ztr", &layoutFrmMCMessages},
    {"frmDlgMCProp.ztr", &layoutFrmDlgMCProp},
};

}  // namespace

Layout defaultLayout(std::string_view fileName) {
    for (const Known& known : kKnown) {
        if (fileName == known.fileName) return known.make();
    }
    return Layout(std::string(fileName));
}

std::vector<std::string> defaultLayoutNames() {
    std::vector<std::string> names;
    for (const Known& known : kKnown) names.emplace_back(known.fileName);
    return names;
}

}  // namespace qv
