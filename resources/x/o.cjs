/* Strudex's window skin: a Qt style sheet laid over the database selection window. It changes
   colours only, so that every control keeps the size and font the window was laid out for. */
QLineEdit {
    selection-background-color: #2f6ea8;
    selection-color: #ffffff;
}
QToolTip {
    color: #202020;
    background-color: #fffbe6;
}
