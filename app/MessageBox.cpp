#include "MessageBox.h"

#include <QApplication>

void showMessageBox(const QString &text, const QString &caption, QMessageBox::Icon icon)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    // Paths and engine texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
