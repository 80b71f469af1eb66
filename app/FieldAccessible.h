#pragma once

// Line edits as a screen reader reads them. Qt's own interface reports each character as a text
// run of its own that ends where it starts (offset 5 gives the run 5..5); a screen reader that
// joins the runs to find how far the text goes stops one character short and reads "127.77.2."
// for 127.77.2.1. This one reports the whole text as one run, and describes an empty field as
// empty in the current language. Installed once, for every QLineEdit created after it.
void InstallFieldAccessible();

class QLineEdit;

// Tab into a line edit selects its whole text. In an empty field that selection of nothing still
// reports a caret move, which reaches the screen reader before the focus does: the reader then
// takes the field as already presented and says nothing, not even its name. An empty field is
// entered by Tab as a click enters it, with nothing to select.
void ReadEmptyFieldOnFocus(QLineEdit *edit);
