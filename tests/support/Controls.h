#pragma once

#include <QByteArray>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <cstdlib>

namespace TestSupport {

// A window's control by its object name, the way a user's eye (or an accessibility tool) finds it.
// A control that is missing or of another kind ends the test run: every test after it would only
// repeat the same failure.
template <class T = QWidget> T *control(const QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("%s has no control %s of the expected kind", window.metaObject()->className(), name);
    return found;
}

inline QPushButton *button(const QWidget &window, const char *name)
{
    return control<QPushButton>(window, name);
}

inline QLineEdit *textBox(const QWidget &window, const char *name)
{
    return control<QLineEdit>(window, name);
}

inline QTreeWidget *tableList(const QWidget &window)
{
    return control<QTreeWidget>(window, "ListView1");
}

inline QProgressBar *progressBar(const QWidget &window)
{
    return control<QProgressBar>(window, "ProgressBar1");
}

inline QGroupBox *frame(const QWidget &window, const char *name)
{
    return control<QGroupBox>(window, name);
}

} // namespace TestSupport
