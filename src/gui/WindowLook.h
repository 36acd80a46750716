#pragma once

#include <QString>

#include <initializer_list>

class QIcon;
class QLineEdit;
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

// The windows' own look: a white window whose frames and labels are white too, and push buttons in
// Arial 11.25 point bold, button-text colour on white.
void StyleWindow(QWidget &window, std::initializer_list<QWidget *> whiteControls,
                 std::initializer_list<QWidget *> pushButtons);

// A password box that shows every character as "*".
void MaskWithAsterisks(QLineEdit &box);

// Puts the window in the middle of its screen.
void CentreOnScreen(QWidget &window);

// The program's icon: 32, 48, 128 and 256 pixels.
QIcon ProgramIcon();

} // namespace Main
