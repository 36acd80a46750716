#pragma once

#include <QString>

class QWidget;

namespace Main {

// Gives the window, and its option buttons, check boxes, frames and labels, the system's
// button-face colour in place of the white of their layout. Text boxes, lists, push buttons and
// progress bars keep their own colours.
void SetButtonFaceBackColors(QWidget &window);

// When the skin file x/o.cjs stands as a normal file in the program folder, gives the selection
// window the button-face colours and applies the file to it as a Qt style sheet. Without the file
// nothing visible happens. A skin file that cannot be read fails with a file access error.
void ApplySkin(QWidget &form1);
void ApplySkin(QWidget &form1, const QString &programFolder);

} // namespace Main
